// Key events through the desktop's remote-input permission: the
// RemoteDesktop portal of xdg-desktop-portal (GNOME, KDE Plasma), where the
// compositor gives ordinary clients no virtual keyboard. The window itself
// runs on X11 through XWayland.
#pragma once

#include <gio/gio.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/gtk/key_sender.h"

namespace vimbrel {

// The session bus has a RemoteDesktop portal that offers keyboards. Never
// starts a bus of its own where the session has none.
bool RemoteDesktopOffered();

class PortalKeys final : public KeySender {
public:
    // What the keysym of a key becomes on the desktop's current layout: the
    // portal types only keysyms the layout has. 0: the key types nothing.
    using Resolve = std::function<unsigned(std::uint8_t vk, unsigned keysym)>;

    explicit PortalKeys(Resolve resolve);
    // Whatever is still held is let go, and the session closed.
    ~PortalKeys() override;
    PortalKeys(const PortalKeys&) = delete;
    PortalKeys& operator=(const PortalKeys&) = delete;

    // Opens the keyboard session: CreateSession, SelectDevices, Start. Start
    // is where the desktop may ask the user; the default main context runs
    // until the answer comes. True once the session types.
    bool Open();
    bool Active() const { return !session_.empty(); }
    // Called once, from the main loop, when an open session ends without
    // being asked to (the desktop closed it, or the portal went away).
    void OnLost(std::function<void()> lost) { lost_ = std::move(lost); }

    void Press(std::uint8_t vk, bool keypadEnter) override;
    void Release(std::uint8_t vk) override;
    void FollowLocks(bool capsLock, bool numLock) override;
    void ReleaseAllAndRestore() override;

private:
    GVariant* Request(const char* method, std::uint32_t& response);
    void Keysym(unsigned keysym, bool down);
    void Notify(const char* method, unsigned value, bool down);
    void SetLocks(bool caps, bool num);
    void Lost();
    void Close();

    Resolve resolve_;
    GDBusConnection* bus_ = nullptr;
    std::string session_;  // its object path; empty: no session
    guint closedWatch_ = 0;
    guint portalWatch_ = 0;
    std::function<void()> lost_;
    bool capsWanted_ = false, numWanted_ = false;  // the keyboard's own lights
    bool capsSent_ = false, numSent_ = false;      // the desktop's locks, by what this session sent
    std::array<unsigned, 256> down_{};     // per virtual-key code, the keysym it went down with
    std::array<unsigned, 256> downCode_{};  // or the input event code, for a keypad digit
    std::array<bool, 256> aroundKeys_{};  // Alt or Windows key latched: pressed around each other key
};

}  // namespace vimbrel
