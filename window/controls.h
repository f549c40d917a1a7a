// Everything the keyboard knows about each of its eleven key controls, one
// row per control: its kind, names, colours, what its colour means, how it
// presents itself to screen readers, and the handlers its events go to.
// The window and every front end read this table; none repeats it.
#pragma once

#include <array>
#include <string_view>
#include <type_traits>

#include "layout/colours.h"
#include "layout/key_ref.h"
#include "layout/key_table.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

// What a control's background colour tells. For locks and latches it is the
// state itself: released blue is off (up), any other colour on (held).
enum class ColourMeaning : std::uint8_t { Display, LockState, LatchState };

// How a key presents itself: a plain push button, or one that stays down.
enum class KeyRole : std::uint8_t { PushButton, ToggleButton };

// An event handler of a control, called with the element index (0 for a single button).
using ControlHandler = void (*)(ScreenKeyboard&, int index);

// Adapts a handler of the window, with or without the element index, to ControlHandler.
template <auto handler>
void Route(ScreenKeyboard& keyboard, int index) {
    if constexpr (std::is_invocable_v<decltype(handler), ScreenKeyboard&, int>)
        (keyboard.*handler)(index);
    else
        (keyboard.*handler)();
}

struct ControlDef {
    Control control;
    std::u16string_view name;  // the control's own name, as the handlers are named after it
    std::string_view alias;    // an ASCII name for logs, test names and automation
    bool isArray;              // element index = virtual-key code; a single button uses 0
    std::uint8_t code;         // the virtual-key code a single button sends (0 for an array)
    Colour designColour;       // the designed start colour
    Colour startColour;        // the colour it really starts in
    ColourMeaning colour;
    KeyRole role;
    ControlHandler click, gotFocus, lostFocus;  // nullptr: the event has no handler
};

using SK = ScreenKeyboard;

// The lock and modifier buttons start in the colour of the state the keyboard
// shows at start (Caps Lock and Scroll Lock off, Num Lock on, no modifier
// held), not in their designed silver and pink, so that their first click does
// what the lights and captions promise. The Applications key keeps its silver
// until it first loses the focus. Rows are in the order of Control.
// clang-format off
inline constexpr std::array<ControlDef, kControlCount> kControls = {{
    {Control::SKB,      u"SKB",      "ordinary",     true,   0,  kWhite,  kWhite,        ColourMeaning::Display,    KeyRole::PushButton,
     Route<&SK::SKB_Click>,      Route<&SK::SKB_GotFocus>,      Route<&SK::SKB_LostFocus>},
    {Control::小键盘,   u"小键盘",   "keypad",       true,   0,  kWhite,  kWhite,        ColourMeaning::Display,    KeyRole::PushButton,
     Route<&SK::小键盘_Click>,   Route<&SK::小键盘_GotFocus>,   Route<&SK::小键盘_LostFocus>},
    {Control::小回车,   u"小回车",   "keypad_enter", false,  13, kWhite,  kWhite,        ColourMeaning::Display,    KeyRole::PushButton,
     Route<&SK::小回车_Click>,   Route<&SK::小回车_GotFocus>,   Route<&SK::小回车_LostFocus>},
    {Control::快捷菜单, u"快捷菜单", "apps",         false,  93, kSilver, kSilver,       ColourMeaning::Display,    KeyRole::PushButton,
     Route<&SK::快捷菜单_Click>, Route<&SK::快捷菜单_GotFocus>, Route<&SK::快捷菜单_LostFocus>},
    {Control::徽标,     u"徽标",     "win",          true,   0,  kSilver, kReleasedBlue, ColourMeaning::LatchState, KeyRole::ToggleButton,
     Route<&SK::徽标_Click>,     nullptr, nullptr},
    {Control::转换,     u"转换",     "alt",          true,   0,  kSilver, kReleasedBlue, ColourMeaning::LatchState, KeyRole::ToggleButton,
     Route<&SK::转换_Click>,     nullptr, nullptr},
    {Control::控制,     u"控制",     "ctrl",         true,   0,  kSilver, kReleasedBlue, ColourMeaning::LatchState, KeyRole::ToggleButton,
     Route<&SK::控制_Click>,     nullptr, nullptr},
    {Control::换档,     u"换档",     "shift",        true,   0,  kSilver, kReleasedBlue, ColourMeaning::LatchState, KeyRole::ToggleButton,
     Route<&SK::换档_Click>,     nullptr, nullptr},
    {Control::大写锁,   u"大写锁",   "caps_lock",    false,  20, kSilver, kReleasedBlue, ColourMeaning::LockState,  KeyRole::ToggleButton,
     Route<&SK::大写锁_Click>,   nullptr, nullptr},
    {Control::数字锁,   u"数字锁",   "num_lock",     false, 144, kPink,   kHighlight,    ColourMeaning::LockState,  KeyRole::ToggleButton,
     Route<&SK::数字锁_Click>,   nullptr, nullptr},
    {Control::卷轴锁,   u"卷轴锁",   "scroll_lock",  false, 145, kPink,   kReleasedBlue, ColourMeaning::LockState,  KeyRole::ToggleButton,
     Route<&SK::卷轴锁_Click>,   nullptr, nullptr},
}};
// clang-format on

constexpr const ControlDef& ControlInfo(Control c) { return kControls[static_cast<std::size_t>(c)]; }

constexpr Colour StartColour(Control c) { return ControlInfo(c).startColour; }

// The Windows virtual-key code a key stands for: an array element's index, or
// the code its single button sends (keypad Enter sends the main Enter's 13).
constexpr int VirtualKeyOf(KeyRef key) {
    const ControlDef& c = ControlInfo(key.control);
    return c.isArray ? key.index : c.code;
}

// Whether a key is down for good: a lock that is on or a modifier that is
// latched. Every other key is down only while it is being clicked; a lit
// ordinary key only holds the focus.
constexpr bool KeyHeld(Control c, Colour back) {
    return ControlInfo(c).colour != ColourMeaning::Display && back != kReleasedBlue;
}

namespace control_table_detail {
constexpr bool RowsFollowTheControls() {
    for (std::size_t i = 0; i < kControls.size(); ++i)
        if (static_cast<std::size_t>(kControls[i].control) != i) return false;
    return true;
}
constexpr bool SingleButtonsUseIndexZero() {
    for (const KeyDef& k : kKeys)
        if (!ControlInfo(k.key.control).isArray && k.key.index != 0) return false;
    return true;
}
}  // namespace control_table_detail
static_assert(control_table_detail::RowsFollowTheControls());
static_assert(control_table_detail::SingleButtonsUseIndexZero());

}  // namespace vimbrel
