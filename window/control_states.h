// What every key and light of the keyboard shows at this moment, kept once in
// the core: the handlers read and write it, the front ends draw from it and
// are told through the platform when a row changed.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "captions/caption_fit.h"
#include "layout/colours.h"
#include "layout/key_ref.h"
#include "layout/key_table.h"
#include "layout/labels.h"

namespace vimbrel {

// One key button. For a lock or a modifier the colour is the state itself:
// released blue is off (up), any other colour on (held).
struct KeyState {
    Colour colour;
    std::u16string caption;  // as written, "&&" for one "&"
    bool held = false;       // down on the physical keyboard: a ring inside the edge
    friend bool operator==(const KeyState&, const KeyState&) = default;
};

// What changed of a key, for the front end to draw it again. `on` tells
// screen readers that a lock went on or off or a modifier was latched or let go.
struct KeyChange {
    bool colour = false;
    bool caption = false;
    bool on = false;
    bool held = false;
    explicit operator bool() const { return colour || caption || on || held; }
    friend bool operator==(const KeyChange&, const KeyChange&) = default;
};

class ControlStates {
public:
    // The keyboard as it starts: design captions, each control's start colour,
    // only the Num Lock light lit.
    ControlStates();

    // Rows in the order of kKeys.
    const KeyState& Key(std::size_t row) const { return keys_[row]; }
    // A key the keyboard lacks reads white with no caption.
    Colour BackColour(KeyRef key) const;
    std::u16string_view Caption(KeyRef key) const;
    Colour LightColour(Light light) const { return lights_[static_cast<std::size_t>(light)]; }
    // A label's text colour: a light's state, or the fixed colour of a text.
    Colour LabelColour(const LabelDef& label) const { return label.isLight ? LightColour(label.light) : label.textColour; }

    // Each says what it changed; writing what a row already holds changes nothing.
    KeyChange SetBackColour(KeyRef key, Colour colour);
    KeyChange SetCaption(KeyRef key, std::u16string_view text);
    KeyChange SetHeld(KeyRef key, bool held);
    bool SetLightColour(Light light, Colour colour);

    // How a key's caption is set on a face of this size: decided at the first
    // draw after the caption or the face changed, from the front end's measures.
    const CaptionFit& Fit(std::size_t row, CaptionBox box, CaptionMeasure& measure) const;

private:
    std::array<KeyState, kKeys.size()> keys_;
    std::array<Colour, kLightCount> lights_;
    struct FitOnFace {
        bool known;
        CaptionBox box;
        CaptionFit fit;
    };
    mutable std::array<FitOnFace, kKeys.size()> fits_{};
    mutable CaptionFitter fitter_;
};

}  // namespace vimbrel
