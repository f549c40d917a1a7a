// What the keyboard window sends its keys through: XTest on X11, a virtual
// keyboard of the compositor on Wayland. Each takes Windows virtual-key codes
// and types them as the US layout does.
#pragma once

#include <cstdint>

namespace vimbrel {

class KeySender {
public:
    virtual ~KeySender() = default;

    // One event of the key with this virtual-key code. keypadEnter: the 13 comes
    // from keypad Enter, which both window systems tell apart from the main Enter.
    virtual void Press(std::uint8_t vk, bool keypadEnter) = 0;
    virtual void Release(std::uint8_t vk) = 0;
    // The keyboard's own Caps Lock and Num Lock lights, before each key event.
    // A sender that types through the system's own lock state ignores them.
    virtual void FollowLocks(bool /*capsLock*/, bool /*numLock*/) {}
    // Every way out: lets go of every key still down and undoes what the
    // sender changed for its keys.
    virtual void ReleaseAllAndRestore() = 0;
};

}  // namespace vimbrel
