// How every key of the keyboard is named: its control, and for arrays the element index.
#pragma once

#include <compare>
#include <cstdint>

namespace vimbrel {

// The eleven key controls. In the arrays the element index is the key's
// virtual-key code; the single buttons use index 0.
enum class Control : std::uint8_t {
    SKB,       // ordinary keys (array)
    小键盘,    // keypad digits and decimal point (array)
    小回车,    // keypad Enter
    快捷菜单,  // Applications key
    徽标,      // Windows logo keys (array)
    转换,      // Alt keys (array)
    控制,      // Ctrl keys (array)
    换档,      // Shift keys (array)
    大写锁,    // Caps Lock
    数字锁,    // Num Lock
    卷轴锁,    // Scroll Lock
};

inline constexpr int kControlCount = 11;

struct KeyRef {
    Control control;
    int index = 0;
    friend constexpr auto operator<=>(const KeyRef&, const KeyRef&) = default;
};

// The three indicator lights.
enum class Light : std::uint8_t { 数字灯, 大写灯, 卷轴灯 };
inline constexpr int kLightCount = 3;

}  // namespace vimbrel
