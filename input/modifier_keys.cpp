// Shift, Ctrl, Alt and the Windows keys latch: one click presses, the next releases.
#include "input/key_events.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

// The button's colour is the latch: released blue is up, any other colour held.
void ScreenKeyboard::LatchClick(KeyRef key) {
    if (states_.BackColour(key) == kReleasedBlue) {
        SetBackColour(key, kHighlight);
        KeyPress(platform_, key.index);
    } else {
        SetBackColour(key, kReleasedBlue);
        KeyRelease(platform_, key.index);
    }
}

void ScreenKeyboard::控制_Click(int index) { LatchClick({Control::控制, index}); }

void ScreenKeyboard::转换_Click(int index) { LatchClick({Control::转换, index}); }

void ScreenKeyboard::徽标_Click(int index) { LatchClick({Control::徽标, index}); }

// Only the clicked Shift counts here; the other one is not read.
void ScreenKeyboard::换档_Click(int index) {
    const KeyRef key{Control::换档, index};
    LatchClick(key);
    const bool down = states_.BackColour(key) == kHighlight;
    const bool capsLock = states_.LightColour(Light::大写灯) == kHighlight;
    const bool numLock = states_.LightColour(Light::数字灯) == kHighlight;
    if (down) {
        上档符号();
        if (capsLock) 小写字母(); else 大写字母();
        光标小键盘();
    } else {
        下档符号();
        if (capsLock) 大写字母(); else 小写字母();
        if (numLock) 数字小键盘(); else 光标小键盘();
    }
}

}  // namespace vimbrel
