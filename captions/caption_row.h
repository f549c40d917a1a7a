// One row of a caption set: which key, and the whole two-line caption it gets.
#pragma once

#include <string_view>

namespace vimbrel {

// caption is top line, one U+000A, bottom line; never a carriage return.
struct CaptionRow {
    int index;  // element index (virtual-key code) within the set's control array
    std::u16string_view caption;
};

// A keypad key and the editing key it stands for while Num Lock is off (0: none).
struct KeypadFunction {
    int index;
    int editingKey;
};

}  // namespace vimbrel
