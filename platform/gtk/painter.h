// Drawing of the key faces, the lights and the texts under them.
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <string>
#include <string_view>

#include "captions/caption_fit.h"
#include "layout/colours.h"

namespace vimbrel {

std::string Utf8(std::u16string_view text);

// The window's font: the CJK interface font at 9 points for this DPI.
PangoFontDescription* CaptionFont(int dpi);
int FontPixels(int dpi);

// The keys' font as caption fitting measures it, from the layout a key is drawn with.
class PangoMeasure final : public CaptionMeasure {
public:
    PangoMeasure(cairo_t* cr, const PangoFontDescription* font);
    ~PangoMeasure();
    PangoMeasure(const PangoMeasure&) = delete;
    PangoMeasure& operator=(const PangoMeasure&) = delete;

    LineMetrics Metrics(int px) override;
    int Width(std::u16string_view line, int px) override;
    PangoLayout* LayoutAt(int px);  // the layout, set in the font of that size
    int Ascent(int px);

private:
    PangoLayout* layout_;
    PangoFontDescription* font_;
    int px_ = 0;
};

// A key's edge: two pixels all round. The caption goes on the face inside it.
inline constexpr int kKeyEdge = 2;

// A key button: its face filled in its colour, a raised edge (sunken while it
// is pressed) and the caption's lines as fitted to the face.
// ring: the width of the held ring inside the edge, 0 for none.
void PaintKey(cairo_t* cr, int width, int height, Colour face, bool sunken, const CaptionFit& fit,
              PangoMeasure& measure, int ring = 0);

// A light or the text under it: the text centred at the top, in its colour, on
// the window's background.
void PaintLabel(cairo_t* cr, int width, Colour text, std::u16string_view caption, const PangoFontDescription* font);

}  // namespace vimbrel
