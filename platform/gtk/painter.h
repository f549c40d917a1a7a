// Drawing of the key faces, the lights and the texts under them.
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <string>
#include <string_view>

#include "layout/colours.h"

namespace vimbrel {

std::string Utf8(std::u16string_view text);

// The window's font: the CJK interface font at 9 points for this DPI.
PangoFontDescription* CaptionFont(int dpi);
int FontPixels(int dpi);

// A key button: its face filled in its colour, a raised edge (sunken while it
// is pressed) and the caption centred on it in one or two lines.
void PaintKey(cairo_t* cr, int width, int height, Colour face, bool sunken, std::u16string_view caption,
              const PangoFontDescription* font, int em);

// A light or the text under it: the text centred at the top, in its colour, on
// the window's background.
void PaintLabel(cairo_t* cr, int width, Colour text, std::u16string_view caption, const PangoFontDescription* font);

}  // namespace vimbrel
