// The shape of one row of the key table, and the fingers that strike the keys.
#pragma once

#include <cstdint>
#include <string_view>

#include "layout/colours.h"
#include "layout/key_ref.h"

namespace vimbrel {

using Twips = int;  // 1/1440 inch

// The finger whose pointer image a key shows. The order is that of the image files.
enum class Finger : std::uint8_t {
    LeftLittle,
    LeftRing,
    LeftMiddle,
    LeftIndex,
    LeftThumb,
    BothThumbs,
    RightThumb,
    RightIndex,
    RightMiddle,
    RightRing,
    RightLittle,
};
inline constexpr int kFingerCount = 11;

struct KeyDef {
    KeyRef key;  // control, and element index = virtual-key code
    std::u16string_view caption, tooltip;
    Twips left, top, width, height;
    int tabIndex;
    Finger finger;
};

// The designed start colour of each control (white, silver or pink).
constexpr Colour DesignColour(Control c) {
    switch (c) {
    case Control::SKB:
    case Control::小键盘:
    case Control::小回车:
        return kWhite;
    case Control::数字锁:
    case Control::卷轴锁:
        return kPink;
    default:
        return kSilver;
    }
}

// The colour each control really starts in. The lock and modifier buttons
// start in the colour of the state the keyboard shows at start (Caps Lock and
// Scroll Lock off, Num Lock on, no modifier held), so that their first click
// does what the lights and captions promise. The Applications key keeps its
// silver until it first loses the focus.
constexpr Colour StartColour(Control c) {
    switch (c) {
    case Control::数字锁:
        return kHighlight;
    case Control::大写锁:
    case Control::卷轴锁:
    case Control::徽标:
    case Control::转换:
    case Control::控制:
    case Control::换档:
        return kReleasedBlue;
    default:
        return DesignColour(c);
    }
}

}  // namespace vimbrel
