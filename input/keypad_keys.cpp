// The keypad digits, keypad Enter and the Applications key.
#include "input/key_events.h"
#include "window/controls.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

// Num Lock as the keypad sees it: the Num Lock button lit. Shift is not consulted.
// Where the lock state is the system's, so is Num Lock's effect on the keypad:
// the key always sends its own code.
void ScreenKeyboard::小键盘_Click(int index) {
    if (systemLocks_ || states_.BackColour({Control::数字锁}) == kHighlight)
        KeyStroke(platform_, index);
    else
        小键盘光标(index);
}

void ScreenKeyboard::小键盘_GotFocus(int index) { SetBackColour({Control::小键盘, index}, kHighlight); }
void ScreenKeyboard::小键盘_LostFocus(int index) { SetBackColour({Control::小键盘, index}, kWhite); }

// Keypad Enter is sent exactly like the main Enter.
void ScreenKeyboard::小回车_Click() { KeyStroke(platform_, VirtualKeyOf({Control::小回车})); }
void ScreenKeyboard::小回车_GotFocus() { SetBackColour({Control::小回车}, kHighlight); }
void ScreenKeyboard::小回车_LostFocus() { SetBackColour({Control::小回车}, kWhite); }

void ScreenKeyboard::快捷菜单_Click() { KeyStroke(platform_, VirtualKeyOf({Control::快捷菜单})); }
void ScreenKeyboard::快捷菜单_GotFocus() { SetBackColour({Control::快捷菜单}, kHighlight); }
// Silver until the first loss of focus, released blue ever after.
void ScreenKeyboard::快捷菜单_LostFocus() { SetBackColour({Control::快捷菜单}, kReleasedBlue); }

}  // namespace vimbrel
