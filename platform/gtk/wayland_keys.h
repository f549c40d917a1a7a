// Key events through the compositor's virtual keyboard
// (zwp_virtual_keyboard_v1), as the US layout types them.
#pragma once

#include <array>
#include <cstdint>

#include "platform/gtk/key_sender.h"

struct wl_display;
struct wl_event_queue;
struct wl_seat;
struct xkb_keymap;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace vimbrel {

class WaylandKeys final : public KeySender {
public:
    // Makes the virtual keyboard of this seat on this connection and gives it
    // its keymap at once: a seat that has no keyboard yet drops the first key
    // that comes with its first keyboard.
    WaylandKeys(wl_display* display, wl_seat* seat);
    // The virtual keyboard goes away, after whatever it held was let go.
    ~WaylandKeys() override;
    WaylandKeys(const WaylandKeys&) = delete;
    WaylandKeys& operator=(const WaylandKeys&) = delete;

    // The compositor made the keyboard and took its keymap.
    bool Ready() const { return keyboard_ != nullptr && keymap_ != nullptr; }

    void Press(std::uint8_t vk, bool keypadEnter) override;
    void Release(std::uint8_t vk) override;
    void FollowLocks(bool capsLock, bool numLock) override;
    void ReleaseAllAndRestore() override;

private:
    std::uint32_t CodeOf(std::uint8_t vk, bool keypadEnter) const;
    std::uint32_t ModifierOf(std::uint8_t vk) const;
    void Key(std::uint32_t code, bool down);
    void SendModifiers();

    wl_display* display_;
    wl_event_queue* queue_ = nullptr;  // our own: GDK's dispatching never sees our objects
    zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    std::array<std::uint32_t, 256> codes_{};  // per virtual-key code, its evdev code; 0: none
    std::uint32_t keypadEnterCode_ = 0;
    std::uint32_t shift_ = 0, control_ = 0, alt_ = 0, logo_ = 0, lock_ = 0, num_ = 0;  // modifier masks
    std::uint32_t depressed_ = 0;
    std::uint32_t locked_ = 0;
    std::uint32_t sent_[2] = {~0u, ~0u};  // depressed and locked as last sent
    std::array<std::uint32_t, 256> down_{};  // per virtual-key code, the evdev code it went down with
    std::array<bool, 256> aroundKeys_{};     // Alt or Windows key latched: pressed around each other key
};

}  // namespace vimbrel
