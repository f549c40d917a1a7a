// What the keyboard core asks of the system. The Win32 layer implements it;
// tests implement it with a recording fake.
#pragma once

#include <cstdint>
#include <string_view>

#include "layout/colours.h"
#include "layout/key_ref.h"

namespace vimbrel {

// Sizes of the primary screen and of the keyboard window's outer frame, in twips.
struct ScreenMetrics {
    float screenWidth;
    float screenHeight;
    float windowWidth;
    float windowHeight;
};

enum class MenuItem : std::uint8_t { None, MnuAbout, MnuEdition, MnuProgramme, MnuAuthor };

struct Platform {
    virtual ~Platform() = default;

    // Keyboard input: one key event, scan code 0, no extended flag, extra 0.
    virtual void KeyDown(std::uint8_t vk) = 0;
    virtual void KeyUp(std::uint8_t vk) = 0;

    // Key buttons.
    virtual void SetCaption(KeyRef key, std::u16string_view text) = 0;
    virtual Colour BackColour(KeyRef key) const = 0;
    virtual void SetBackColour(KeyRef key, Colour colour) = 0;
    virtual void Focus(KeyRef key) = 0;

    // Indicator lights: the text colour of the dot.
    virtual Colour LightColour(Light light) const = 0;
    virtual void SetLightColour(Light light, Colour colour) = 0;

    // The window.
    virtual void Show() = 0;
    virtual void StayOnTop() = 0;        // topmost band; no move, size or activation
    virtual void AddNoActivateStyle() = 0;
    virtual ScreenMetrics Metrics() const = 0;
    virtual void SetLeft(float twips) = 0;
    virtual void SetTop(float twips) = 0;
    virtual void BeginSystemMove() = 0;  // returns when the move loop ends
    virtual void Minimise() = 0;

    // The pop-up menu at the cursor; returns the chosen item, None if dismissed.
    virtual MenuItem ShowPopupMenu() = 0;
    virtual void ShowMessage(std::u16string_view title, std::u16string_view text) = 0;
    virtual void StartProgram(std::u16string_view commandLine, int showCommand) = 0;
};

}  // namespace vimbrel
