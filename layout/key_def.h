// The shape of one row of the key table, and the fingers that strike the keys.
#pragma once

#include <cstdint>
#include <string_view>

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

}  // namespace vimbrel
