// Key events for the whole X display through XTest, as the US layout types them.
#pragma once

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <vector>

namespace vimbrel {

class XKeys {
public:
    explicit XKeys(Display* display);
    ~XKeys();
    XKeys(const XKeys&) = delete;
    XKeys& operator=(const XKeys&) = delete;

    // One event of the key with this virtual-key code. keypadEnter: the 13 comes
    // from keypad Enter, which X tells apart from the main Enter.
    void Press(std::uint8_t vk, bool keypadEnter);
    void Release(std::uint8_t vk);

    // The display's key map changed (a new layout, or one of our own bindings).
    void KeymapChanged();
    // Lets go of every key still down and gives the spare keycodes back.
    void ReleaseAllAndRestore();
    // The same through a fresh connection, when the keyboard's own one is gone.
    static void RescueAfterConnectionLoss(const char* displayName);

private:
    struct Binding {
        KeyCode code;
        KeySym keysym;
    };
    KeyCode CodeFor(KeySym keysym);
    KeyCode BindSpareCode(KeySym keysym);
    bool CodeIsDown(KeyCode code) const;
    void Fake(KeyCode code, bool down);
    static void Undo(Display* display, const std::array<KeyCode, 256>& down, const std::vector<Binding>& bindings);

    Display* display_;
    bool haveXTest_ = false;
    XkbDescPtr map_ = nullptr;  // the key map as last read; nullptr: read it again
    std::array<KeyCode, 256> down_{};     // per virtual-key code, the keycode it went down with
    std::array<bool, 256> aroundKeys_{};  // Alt or Windows key latched: pressed around each other key
    std::vector<Binding> bindings_;       // spare keycodes given a keysym the layout lacks, oldest first
};

}  // namespace vimbrel
