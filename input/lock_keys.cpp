// Caps Lock, Num Lock and Scroll Lock. The button's colour is the lock's state
// (released blue: off, anything else: on) and the light mirrors it; the
// system's own lock state is never read.
#include "input/key_events.h"
#include "window/controls.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

// Flips button and light together and returns the new state. The click sends
// the stroke after it; the captions follow the stroke.
bool ScreenKeyboard::SwitchLock(Control button, Light light) {
    const bool on = states_.BackColour({button}) == kReleasedBlue;
    const Colour colour = on ? kHighlight : kReleasedBlue;
    SetBackColour({button}, colour);
    SetLightColour(light, colour);
    return on;
}

bool ScreenKeyboard::ShiftHeld() const {
    return states_.BackColour({Control::换档, 160}) == kHighlight ||
           states_.BackColour({Control::换档, 161}) == kHighlight;
}

void ScreenKeyboard::大写锁_Click() {
    const bool on = SwitchLock(Control::大写锁, Light::大写灯);
    KeyStroke(platform_, VirtualKeyOf({Control::大写锁}));
    // Shift inverts what Caps Lock does to the letters.
    if (on != ShiftHeld())
        大写字母();
    else
        小写字母();
}

void ScreenKeyboard::数字锁_Click() {
    const bool on = SwitchLock(Control::数字锁, Light::数字灯);
    KeyStroke(platform_, VirtualKeyOf({Control::数字锁}));
    if (on && !ShiftHeld())
        数字小键盘();
    else
        光标小键盘();
}

void ScreenKeyboard::卷轴锁_Click() {
    SwitchLock(Control::卷轴锁, Light::卷轴灯);
    KeyStroke(platform_, VirtualKeyOf({Control::卷轴锁}));
}

}  // namespace vimbrel
