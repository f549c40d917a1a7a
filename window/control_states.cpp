// The table of what each key and light shows.
#include "window/control_states.h"

#include "window/controls.h"

namespace vimbrel {

ControlStates::ControlStates() {
    for (std::size_t row = 0; row < kKeys.size(); ++row)
        keys_[row] = {StartColour(kKeys[row].key.control), std::u16string(kKeys[row].caption)};
    for (std::size_t i = 0; i < lights_.size(); ++i) lights_[i] = LightLabel(static_cast<Light>(i)).textColour;
}

Colour ControlStates::BackColour(KeyRef key) const {
    const int row = KeyRow(key);
    return row >= 0 ? keys_[static_cast<std::size_t>(row)].colour : kWhite;
}

std::u16string_view ControlStates::Caption(KeyRef key) const {
    const int row = KeyRow(key);
    return row >= 0 ? std::u16string_view(keys_[static_cast<std::size_t>(row)].caption) : std::u16string_view{};
}

KeyChange ControlStates::SetBackColour(KeyRef key, Colour colour) {
    const int row = KeyRow(key);
    if (row < 0) return {};
    Colour& now = keys_[static_cast<std::size_t>(row)].colour;
    if (now == colour) return {};
    const bool wasOn = KeyHeld(key.control, now);
    now = colour;
    return {.colour = true, .on = KeyHeld(key.control, colour) != wasOn};
}

KeyChange ControlStates::SetCaption(KeyRef key, std::u16string_view text) {
    const int row = KeyRow(key);
    if (row < 0) return {};
    std::u16string& now = keys_[static_cast<std::size_t>(row)].caption;
    if (now == text) return {};
    now = text;
    fits_[static_cast<std::size_t>(row)].known = false;
    return {.caption = true};
}

KeyChange ControlStates::SetHeld(KeyRef key, bool held) {
    const int row = KeyRow(key);
    if (row < 0) return {};
    bool& now = keys_[static_cast<std::size_t>(row)].held;
    if (now == held) return {};
    now = held;
    return {.held = true};
}

bool ControlStates::SetLightColour(Light light, Colour colour) {
    Colour& now = lights_[static_cast<std::size_t>(light)];
    if (now == colour) return false;
    now = colour;
    return true;
}

const CaptionFit& ControlStates::Fit(std::size_t row, CaptionBox box, CaptionMeasure& measure) const {
    FitOnFace& f = fits_[row];
    if (!f.known || f.box != box) f = {true, box, fitter_.Fit(keys_[row].caption, box, measure)};
    return f.fit;
}

}  // namespace vimbrel
