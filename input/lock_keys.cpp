// Caps Lock, Num Lock and Scroll Lock. The button's colour is the lock's state
// (released blue: off, anything else: on) and the light mirrors it; the
// system's own lock state is never read.
#include "input/key_events.h"
#include "window/controls.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

namespace {

// Flips button and light together, sends the stroke, and returns the new state.
bool ToggleLock(Platform& p, Control button, Light light) {
    const bool on = p.BackColour({button}) == kReleasedBlue;
    const Colour colour = on ? kHighlight : kReleasedBlue;
    p.SetBackColour({button}, colour);
    p.SetLightColour(light, colour);
    KeyStroke(p, VirtualKeyOf({button}));
    return on;
}

bool ShiftHeld(const Platform& p) {
    return p.BackColour({Control::换档, 160}) == kHighlight || p.BackColour({Control::换档, 161}) == kHighlight;
}
}  // namespace

void ScreenKeyboard::大写锁_Click() {
    const bool on = ToggleLock(platform_, Control::大写锁, Light::大写灯);
    // Shift inverts what Caps Lock does to the letters.
    if (on != ShiftHeld(platform_))
        大写字母();
    else
        小写字母();
}

void ScreenKeyboard::数字锁_Click() {
    const bool on = ToggleLock(platform_, Control::数字锁, Light::数字灯);
    if (on && !ShiftHeld(platform_))
        数字小键盘();
    else
        光标小键盘();
}

void ScreenKeyboard::卷轴锁_Click() { ToggleLock(platform_, Control::卷轴锁, Light::卷轴灯); }

}  // namespace vimbrel
