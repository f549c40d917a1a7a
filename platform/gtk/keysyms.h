// The X keysym each Windows virtual-key code stands for: the symbol its key
// carries in the US layout, unshifted. The only table this front end adds.
#pragma once

#include <X11/keysym.h>

#include <array>
#include <cstdint>

namespace vimbrel {

struct VkKeysym {
    std::uint8_t vk;
    unsigned keysym;
};

// clang-format off
inline constexpr VkKeysym kVkKeysyms[] = {
    {8, XK_BackSpace}, {9, XK_Tab}, {13, XK_Return}, {19, XK_Pause}, {20, XK_Caps_Lock}, {27, XK_Escape},
    {32, XK_space}, {33, XK_Prior}, {34, XK_Next}, {35, XK_End}, {36, XK_Home},
    {37, XK_Left}, {38, XK_Up}, {39, XK_Right}, {40, XK_Down}, {44, XK_Print}, {45, XK_Insert}, {46, XK_Delete},
    {48, XK_0}, {49, XK_1}, {50, XK_2}, {51, XK_3}, {52, XK_4}, {53, XK_5}, {54, XK_6}, {55, XK_7}, {56, XK_8}, {57, XK_9},
    {65, XK_a}, {66, XK_b}, {67, XK_c}, {68, XK_d}, {69, XK_e}, {70, XK_f}, {71, XK_g}, {72, XK_h}, {73, XK_i},
    {74, XK_j}, {75, XK_k}, {76, XK_l}, {77, XK_m}, {78, XK_n}, {79, XK_o}, {80, XK_p}, {81, XK_q}, {82, XK_r},
    {83, XK_s}, {84, XK_t}, {85, XK_u}, {86, XK_v}, {87, XK_w}, {88, XK_x}, {89, XK_y}, {90, XK_z},
    {91, XK_Super_L}, {92, XK_Super_R}, {93, XK_Menu},
    {96, XK_KP_0}, {97, XK_KP_1}, {98, XK_KP_2}, {99, XK_KP_3}, {100, XK_KP_4},
    {101, XK_KP_5}, {102, XK_KP_6}, {103, XK_KP_7}, {104, XK_KP_8}, {105, XK_KP_9},
    {106, XK_KP_Multiply}, {107, XK_KP_Add}, {109, XK_KP_Subtract}, {110, XK_KP_Decimal}, {111, XK_KP_Divide},
    {112, XK_F1}, {113, XK_F2}, {114, XK_F3}, {115, XK_F4}, {116, XK_F5}, {117, XK_F6},
    {118, XK_F7}, {119, XK_F8}, {120, XK_F9}, {121, XK_F10}, {122, XK_F11}, {123, XK_F12},
    {144, XK_Num_Lock}, {145, XK_Scroll_Lock},
    {160, XK_Shift_L}, {161, XK_Shift_R}, {162, XK_Control_L}, {163, XK_Control_R}, {164, XK_Alt_L}, {165, XK_Alt_R},
    {186, XK_semicolon}, {187, XK_equal}, {188, XK_comma}, {189, XK_minus}, {190, XK_period}, {191, XK_slash},
    {192, XK_grave}, {219, XK_bracketleft}, {220, XK_backslash}, {221, XK_bracketright}, {222, XK_apostrophe},
};
// clang-format on

// Keypad Enter shares VK_RETURN with the main Enter; the front end knows which was clicked.
inline constexpr unsigned kKeypadEnterKeysym = XK_KP_Enter;

// The keysym of a virtual-key code, or 0 (NoSymbol) for a code no key sends.
constexpr unsigned KeysymOf(std::uint8_t vk) {
    for (const VkKeysym& row : kVkKeysyms)
        if (row.vk == vk) return row.keysym;
    return 0;
}

// How a modifier is sent. Shift and Ctrl stay down from one click to the next;
// Alt and the Windows keys go down only around each other key, since window
// managers take a held Alt (or Super) with a click as the start of a window move.
enum class ModifierKind : std::uint8_t { Ordinary, Held, AroundKeys };

constexpr ModifierKind ModifierKindOf(std::uint8_t vk) {
    switch (vk) {
    case 160: case 161: case 162: case 163: return ModifierKind::Held;
    case 164: case 165: case 91: case 92:   return ModifierKind::AroundKeys;
    default:                                return ModifierKind::Ordinary;
    }
}

}  // namespace vimbrel
