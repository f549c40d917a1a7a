// Twips to pixels at the real DPI.
#pragma once

#include "layout/key_def.h"

namespace vimbrel {

// Rounds half away from zero, as MulDiv does; a window placement can be negative.
constexpr int TwipsToPixels(double t, int dpi) {
    const double n = t * dpi / 1440.0;
    return static_cast<int>(n >= 0 ? n + 0.5 : n - 0.5);
}

constexpr double PixelsToTwips(int px, int dpi) { return px * 1440.0 / dpi; }

struct PixelRect {
    int left, top, right, bottom;
    friend constexpr bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Converts edges, never sizes: two keys that touch in twips touch in pixels.
constexpr PixelRect ToPixels(Twips left, Twips top, Twips width, Twips height, int dpi) {
    return {TwipsToPixels(left, dpi), TwipsToPixels(top, dpi), TwipsToPixels(left + width, dpi),
            TwipsToPixels(top + height, dpi)};
}

}  // namespace vimbrel
