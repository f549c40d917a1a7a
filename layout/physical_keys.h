// Where each key of the keyboard sits on a physical PC keyboard: the Linux
// input event code of that position (an X keycode is it plus 8) and its
// set-1 scan code as Windows reports it (kE0 and kE1 mark the prefixed ones).
// A key held down on the physical keyboard is shown on the key at its place,
// whatever the layout types there.
#pragma once

#include <array>
#include <optional>

#include "layout/key_ref.h"
#include "layout/key_table.h"

namespace vimbrel {

inline constexpr int kE0 = 0xE000;
inline constexpr int kE1 = 0xE100;

struct PhysicalKey {
    int evdev;
    int scan;
    KeyRef key;
};

// clang-format off
inline constexpr std::array<PhysicalKey, 104> kPhysicalKeys{{
    {1, 0x01, {Control::SKB, 27}},
    {59, 0x3B, {Control::SKB, 112}}, {60, 0x3C, {Control::SKB, 113}}, {61, 0x3D, {Control::SKB, 114}},
    {62, 0x3E, {Control::SKB, 115}}, {63, 0x3F, {Control::SKB, 116}}, {64, 0x40, {Control::SKB, 117}},
    {65, 0x41, {Control::SKB, 118}}, {66, 0x42, {Control::SKB, 119}}, {67, 0x43, {Control::SKB, 120}},
    {68, 0x44, {Control::SKB, 121}}, {87, 0x57, {Control::SKB, 122}}, {88, 0x58, {Control::SKB, 123}},
    {99, kE0 | 0x37, {Control::SKB, 44}}, {70, 0x46, {Control::卷轴锁}}, {119, kE1 | 0x1D, {Control::SKB, 19}},
    {41, 0x29, {Control::SKB, 192}},
    {2, 0x02, {Control::SKB, 49}}, {3, 0x03, {Control::SKB, 50}}, {4, 0x04, {Control::SKB, 51}},
    {5, 0x05, {Control::SKB, 52}}, {6, 0x06, {Control::SKB, 53}}, {7, 0x07, {Control::SKB, 54}},
    {8, 0x08, {Control::SKB, 55}}, {9, 0x09, {Control::SKB, 56}}, {10, 0x0A, {Control::SKB, 57}},
    {11, 0x0B, {Control::SKB, 48}}, {12, 0x0C, {Control::SKB, 189}}, {13, 0x0D, {Control::SKB, 187}},
    {14, 0x0E, {Control::SKB, 8}},
    {15, 0x0F, {Control::SKB, 9}},
    {16, 0x10, {Control::SKB, 81}}, {17, 0x11, {Control::SKB, 87}}, {18, 0x12, {Control::SKB, 69}},
    {19, 0x13, {Control::SKB, 82}}, {20, 0x14, {Control::SKB, 84}}, {21, 0x15, {Control::SKB, 89}},
    {22, 0x16, {Control::SKB, 85}}, {23, 0x17, {Control::SKB, 73}}, {24, 0x18, {Control::SKB, 79}},
    {25, 0x19, {Control::SKB, 80}}, {26, 0x1A, {Control::SKB, 219}}, {27, 0x1B, {Control::SKB, 221}},
    {43, 0x2B, {Control::SKB, 220}},
    {58, 0x3A, {Control::大写锁}},
    {30, 0x1E, {Control::SKB, 65}}, {31, 0x1F, {Control::SKB, 83}}, {32, 0x20, {Control::SKB, 68}},
    {33, 0x21, {Control::SKB, 70}}, {34, 0x22, {Control::SKB, 71}}, {35, 0x23, {Control::SKB, 72}},
    {36, 0x24, {Control::SKB, 74}}, {37, 0x25, {Control::SKB, 75}}, {38, 0x26, {Control::SKB, 76}},
    {39, 0x27, {Control::SKB, 186}}, {40, 0x28, {Control::SKB, 222}}, {28, 0x1C, {Control::SKB, 13}},
    {42, 0x2A, {Control::换档, 160}},
    {44, 0x2C, {Control::SKB, 90}}, {45, 0x2D, {Control::SKB, 88}}, {46, 0x2E, {Control::SKB, 67}},
    {47, 0x2F, {Control::SKB, 86}}, {48, 0x30, {Control::SKB, 66}}, {49, 0x31, {Control::SKB, 78}},
    {50, 0x32, {Control::SKB, 77}}, {51, 0x33, {Control::SKB, 188}}, {52, 0x34, {Control::SKB, 190}},
    {53, 0x35, {Control::SKB, 191}}, {54, 0x36, {Control::换档, 161}},
    {29, 0x1D, {Control::控制, 162}}, {125, kE0 | 0x5B, {Control::徽标, 91}}, {56, 0x38, {Control::转换, 164}},
    {57, 0x39, {Control::SKB, 32}}, {100, kE0 | 0x38, {Control::转换, 165}}, {126, kE0 | 0x5C, {Control::徽标, 92}},
    {127, kE0 | 0x5D, {Control::快捷菜单}}, {97, kE0 | 0x1D, {Control::控制, 163}},
    {110, kE0 | 0x52, {Control::SKB, 45}}, {102, kE0 | 0x47, {Control::SKB, 36}}, {104, kE0 | 0x49, {Control::SKB, 33}},
    {111, kE0 | 0x53, {Control::SKB, 46}}, {107, kE0 | 0x4F, {Control::SKB, 35}}, {109, kE0 | 0x51, {Control::SKB, 34}},
    {103, kE0 | 0x48, {Control::SKB, 38}}, {105, kE0 | 0x4B, {Control::SKB, 37}}, {108, kE0 | 0x50, {Control::SKB, 40}},
    {106, kE0 | 0x4D, {Control::SKB, 39}},
    {69, 0x45, {Control::数字锁}}, {98, kE0 | 0x35, {Control::SKB, 111}}, {55, 0x37, {Control::SKB, 106}},
    {74, 0x4A, {Control::SKB, 109}},
    {71, 0x47, {Control::小键盘, 103}}, {72, 0x48, {Control::小键盘, 104}}, {73, 0x49, {Control::小键盘, 105}},
    {78, 0x4E, {Control::SKB, 107}},
    {75, 0x4B, {Control::小键盘, 100}}, {76, 0x4C, {Control::小键盘, 101}}, {77, 0x4D, {Control::小键盘, 102}},
    {79, 0x4F, {Control::小键盘, 97}}, {80, 0x50, {Control::小键盘, 98}}, {81, 0x51, {Control::小键盘, 99}},
    {96, kE0 | 0x1C, {Control::小回车}},
    {82, 0x52, {Control::小键盘, 96}}, {83, 0x53, {Control::小键盘, 110}},
}};
// clang-format on

constexpr std::optional<KeyRef> KeyAtEvdev(int evdev) {
    for (const PhysicalKey& p : kPhysicalKeys)
        if (p.evdev == evdev) return p.key;
    return std::nullopt;
}

constexpr std::optional<KeyRef> KeyAtScan(int scan) {
    for (const PhysicalKey& p : kPhysicalKeys)
        if (p.scan == scan) return p.key;
    return std::nullopt;
}

namespace physical_keys_detail {
// Each key of the keyboard has exactly one place, and no place is given twice.
constexpr bool OnePlaceEach() {
    static_assert(kPhysicalKeys.size() == kKeys.size());
    for (const PhysicalKey& p : kPhysicalKeys)
        if (FindKey(p.key) == nullptr) return false;
    for (std::size_t i = 0; i < kPhysicalKeys.size(); ++i)
        for (std::size_t j = i + 1; j < kPhysicalKeys.size(); ++j)
            if (kPhysicalKeys[i].key == kPhysicalKeys[j].key || kPhysicalKeys[i].evdev == kPhysicalKeys[j].evdev ||
                kPhysicalKeys[i].scan == kPhysicalKeys[j].scan)
                return false;
    return true;
}
}  // namespace physical_keys_detail
static_assert(physical_keys_detail::OnePlaceEach());

}  // namespace vimbrel
