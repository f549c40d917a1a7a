// Caps Lock, Num Lock and Scroll Lock. The button's colour is the lock's state
// (released blue: off, anything else: on) and the light mirrors it. Where the
// front end reports the system's lock state (SystemLocks), that is the state
// shown, and a click only sends the stroke.
#include <optional>

#include "input/key_events.h"
#include "window/controls.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

// Flips button and light together and returns the new state. The click sends
// the stroke after it; the captions follow the stroke.
bool ScreenKeyboard::SwitchLock(Control button, Light light) {
    const bool on = states_.BackColour({button}) == kReleasedBlue;
    SetLock(button, light, on);
    return on;
}

void ScreenKeyboard::SetLock(Control button, Light light, bool on) {
    const Colour colour = on ? kHighlight : kReleasedBlue;
    SetBackColour({button}, colour);
    SetLightColour(light, colour);
}

bool ScreenKeyboard::ShiftHeld() const {
    return states_.BackColour({Control::换档, 160}) == kHighlight ||
           states_.BackColour({Control::换档, 161}) == kHighlight;
}

// Shift inverts what Caps Lock does to the letters.
void ScreenKeyboard::CapsLockCaptions(bool on) {
    if (on != ShiftHeld())
        大写字母();
    else
        小写字母();
}

void ScreenKeyboard::NumLockCaptions(bool on) {
    if (on && !ShiftHeld())
        数字小键盘();
    else
        光标小键盘();
}

// Sends the lock's stroke. Where the keyboard keeps the lock state itself it
// flips button and light first and returns the new state; where the state is
// the system's, it returns nothing: the change comes back through SystemLocks.
std::optional<bool> ScreenKeyboard::LockClick(Control button, Light light) {
    std::optional<bool> on;
    if (!systemLocks_) on = SwitchLock(button, light);
    KeyStroke(platform_, VirtualKeyOf({button}));
    return on;
}

void ScreenKeyboard::大写锁_Click() {
    if (const std::optional<bool> on = LockClick(Control::大写锁, Light::大写灯)) CapsLockCaptions(*on);
}

void ScreenKeyboard::数字锁_Click() {
    if (const std::optional<bool> on = LockClick(Control::数字锁, Light::数字灯)) NumLockCaptions(*on);
}

void ScreenKeyboard::卷轴锁_Click() { LockClick(Control::卷轴锁, Light::卷轴灯); }

void ScreenKeyboard::SystemLocks(bool capsLock, bool numLock, bool scrollLock) {
    systemLocks_ = true;
    const auto on = [this](Control button) { return states_.BackColour({button}) != kReleasedBlue; };
    if (on(Control::大写锁) != capsLock) {
        SetLock(Control::大写锁, Light::大写灯, capsLock);
        CapsLockCaptions(capsLock);
    }
    if (on(Control::数字锁) != numLock) {
        SetLock(Control::数字锁, Light::数字灯, numLock);
        NumLockCaptions(numLock);
    }
    if (on(Control::卷轴锁) != scrollLock) SetLock(Control::卷轴锁, Light::卷轴灯, scrollLock);
}

void ScreenKeyboard::PhysicalKey(KeyRef key, bool down) {
    if (const KeyChange change = states_.SetHeld(key, down)) platform_.RedrawKey(key, change);
}

}  // namespace vimbrel
