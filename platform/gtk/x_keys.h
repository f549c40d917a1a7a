// Key events for the whole X display through XTest, as the US layout types them.
#pragma once

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "platform/gtk/key_sender.h"

namespace vimbrel {

// Caps Lock, Num Lock and Scroll Lock as the X server's indicators show them.
struct LockState {
    bool capsLock = false;
    bool numLock = false;
    bool scrollLock = false;
    friend bool operator==(const LockState&, const LockState&) = default;
};

// A key of the physical keyboard, as X's input extension reports it.
struct RawKey {
    int keycode;
    bool down;
};

class XKeys final : public KeySender {
public:
    explicit XKeys(Display* display);
    ~XKeys() override;
    XKeys(const XKeys&) = delete;
    XKeys& operator=(const XKeys&) = delete;

    // One event of the key with this virtual-key code. keypadEnter: the 13 comes
    // from keypad Enter, which X tells apart from the main Enter.
    void Press(std::uint8_t vk, bool keypadEnter) override;
    void Release(std::uint8_t vk) override;

    // The display's key map changed (a new layout, or one of our own bindings).
    void KeymapChanged();
    // Keeps the key map and the keyboard group up to date from X's keyboard
    // events; every event of the display passes through here. Returns true when
    // the lock indicators changed.
    bool Hear(const XEvent& event);
    LockState Locks() const;
    // Asks X for every key press and release of the display (XInput 2 raw
    // events, on the root window). Returns false where X cannot tell.
    bool WatchPhysicalKeys(Window root);
    // A raw key event of the display that the keyboard did not send itself;
    // nothing for any other event.
    std::optional<RawKey> PhysicalKey(const XEvent& event);
    // The keysym that types the key with this virtual-key code on the current
    // layout, for senders that cannot bind a keycode of their own: keysym
    // itself where some key of the current group carries it, otherwise the
    // first-level keysym of the key in the US keysym's place; NoSymbol for none.
    KeySym OnLayout(std::uint8_t vk, KeySym keysym);
    // Lets go of every key still down and gives the spare keycodes back.
    void ReleaseAllAndRestore() override;
    // The same through a fresh connection, when the keyboard's own one is gone.
    static void RescueAfterConnectionLoss(const char* displayName);
    // What an earlier keyboard of this display recorded as held and borrowed
    // and did not give back (it was killed, or crashed): let go and given back.
    // Only for the keyboard that holds the display's claim.
    static void RecoverAbandoned(Display* display);

private:
    struct Binding {
        KeyCode code;
        KeySym keysym;
    };
    bool ReadMap();
    KeyCode CodeFor(KeySym keysym);
    KeyCode BindSpareCode(KeySym keysym);
    bool CodeIsDown(KeyCode code) const;
    void Fake(KeyCode code, bool down);
    static void Undo(Display* display, const std::array<KeyCode, 256>& down, const std::vector<Binding>& bindings);
    void Record() const;
    bool IsEcho(int keycode, bool down);

    Display* display_;
    Atom record_;  // the root window's record of what is held and borrowed
    bool haveXTest_ = false;
    XkbDescPtr map_ = nullptr;  // the key map as last read; nullptr: read it again
    int xkbEvent_ = -1;         // the keyboard extension's event code
    int group_ = -1;            // the keyboard group as last announced; -1: ask
    std::array<KeyCode, 256> down_{};     // per virtual-key code, the keycode it went down with
    std::array<bool, 256> aroundKeys_{};  // Alt or Windows key latched: pressed around each other key
    std::vector<Binding> bindings_;       // spare keycodes given a keysym the layout lacks, oldest first
    int xiOpcode_ = -1;                   // the input extension's, once physical keys are watched
    std::array<Atom, 3> lockIndicators_{};  // "Caps Lock", "Num Lock", "Scroll Lock"
    // What the keyboard itself sent, oldest first: X reports our own events as
    // it reports everyone's, and they are told apart by this queue alone.
    struct Sent {
        int keycode;
        bool down;
        std::chrono::steady_clock::time_point at;
    };
    std::deque<Sent> echoes_;
};

}  // namespace vimbrel
