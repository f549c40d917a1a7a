// What the keyboard core asks of the system it runs on: what it wants done,
// not how a particular window system does it. Each front end implements it
// (platform/win32, platform/gtk); tests implement it with a recording fake.
#pragma once

#include <cstdint>
#include <string_view>

#include "layout/key_ref.h"
#include "window/control_states.h"

namespace vimbrel {

// Sizes of the primary screen and of the keyboard window's outer frame, in
// twips, and where the primary screen starts on the desktop (on Windows always
// at the origin; elsewhere the primary monitor may lie right of or below another).
struct ScreenMetrics {
    float screenWidth;
    float screenHeight;
    float windowWidth;
    float windowHeight;
    float screenLeft = 0;
    float screenTop = 0;
};

struct Platform {
    virtual ~Platform() = default;

    // Keyboard input: one event of the key with this Windows virtual-key code,
    // as if typed (Windows: scan code 0, no extended flag, extra information 0).
    virtual void KeyDown(std::uint8_t vk) = 0;
    virtual void KeyUp(std::uint8_t vk) = 0;

    // What the keys and lights show is kept by the core (window/control_states.h);
    // the front end draws it from there. A key or a light changed: draw it again.
    virtual void RedrawKey(KeyRef key, KeyChange what) = 0;
    virtual void RedrawLight(Light light) = 0;  // lit or dark now, as its colour says
    virtual void Focus(KeyRef key) = 0;

    // The window.
    virtual void Show() = 0;
    virtual void StayOnTop() = 0;        // topmost band; no move, size or activation
    virtual void NeverActivate() = 0;    // from now on, clicks never take the focus
    virtual ScreenMetrics Metrics() const = 0;
    virtual void SetLeft(float twips) = 0;
    virtual void SetTop(float twips) = 0;
    virtual void BeginMove() = 0;        // the system moves the window with the mouse; returns when done
    virtual void Minimise() = 0;

    // The pop-up menu of window/messages.h at the cursor, its default item in
    // bold; returns the chosen row of the menu table, or -1 if none was chosen.
    virtual int ShowPopupMenu() = 0;
    virtual void ShowMessage(std::u16string_view title, std::u16string_view text) = 0;  // modal, one OK button
    // Hands a web address to the desktop's browser; returns at once.
    virtual void OpenAddress(std::u16string_view address) = 0;
};

}  // namespace vimbrel
