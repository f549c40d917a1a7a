// The caption sets of the letter, symbol and keypad keys, and the keypad's editing keys.
#include <algorithm>
#include <span>

#include "captions/caption_tables.h"
#include "input/key_events.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

// Each set writes every row, in table order, whether or not the key already
// shows it; nothing is read back, so a set leaves the same captions however
// often it runs. Only a caption that really changed is drawn again.
void ScreenKeyboard::ApplyCaptions(Control control, std::span<const CaptionRow> set) {
    for (const CaptionRow& row : set) SetCaption({control, row.index}, row.caption);
}

void ScreenKeyboard::大写字母() { ApplyCaptions(Control::SKB, kCapitalLetters); }
void ScreenKeyboard::小写字母() { ApplyCaptions(Control::SKB, kSmallLetters); }
void ScreenKeyboard::上档符号() { ApplyCaptions(Control::SKB, kUpperSymbols); }
void ScreenKeyboard::下档符号() { ApplyCaptions(Control::SKB, kLowerSymbols); }
void ScreenKeyboard::数字小键盘() { ApplyCaptions(Control::小键盘, kDigitKeypad); }
void ScreenKeyboard::光标小键盘() { ApplyCaptions(Control::小键盘, kCursorKeypad); }

// Keypad 5 and anything outside the keypad send nothing. The editing keys go
// out as plain strokes without the extended-key flag, as every key here does.
void ScreenKeyboard::小键盘光标(int index) {
    const auto row = std::ranges::find(kKeypadFunctions, index, &KeypadFunction::index);
    if (row != kKeypadFunctions.end() && row->editingKey != 0) KeyStroke(platform_, row->editingKey);
}

}  // namespace vimbrel
