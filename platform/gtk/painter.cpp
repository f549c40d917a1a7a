// The keys look as the Windows build draws them: a flat face in the key's
// colour inside a two-pixel raised edge, the caption lines one em apart.
#include "platform/gtk/painter.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <vector>

#include "layout/twips.h"

namespace vimbrel {

namespace {

struct Rgb {
    double r, g, b;
};

constexpr Rgb FromColour(Colour c) {
    return {(c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0};
}

// The system colours of a three-dimensional edge.
constexpr Colour kEdgeLight = 0x00E3E3E3;
constexpr Colour kEdgeHighlight = 0x00FFFFFF;
constexpr Colour kEdgeShadow = 0x00A0A0A0;
constexpr Colour kEdgeDarkShadow = 0x00696969;

void Fill(cairo_t* cr, Colour c, double x, double y, double w, double h) {
    const Rgb rgb = FromColour(c);
    cairo_set_source_rgb(cr, rgb.r, rgb.g, rgb.b);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
}

// One ring of an edge, `inset` pixels in: top and left in one colour, bottom and right in the other.
void Ring(cairo_t* cr, int inset, int width, int height, Colour topLeft, Colour bottomRight) {
    const int w = width - 2 * inset, h = height - 2 * inset;
    if (w <= 0 || h <= 0) return;
    Fill(cr, topLeft, inset, inset, w - 1, 1);
    Fill(cr, topLeft, inset, inset, 1, h - 1);
    Fill(cr, bottomRight, inset, inset + h - 1, w, 1);
    Fill(cr, bottomRight, inset + w - 1, inset, 1, h);
}

// The toolkit's access-key processing: "&&" shows one "&", a lone "&" nothing.
std::u16string WithoutPrefixes(std::u16string_view caption) {
    std::u16string shown;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&') shown += u'&', ++i;
            continue;
        }
        shown += caption[i];
    }
    return shown;
}

PangoRectangle Measure(PangoLayout* layout, const std::string& text) {
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
    PangoRectangle logical{};
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    return logical;
}

// Font metrics as the font file gives them, not rounded up to whole pixels.
PangoContext* UnhintedContext() {
    static PangoContext* context = [] {
        PangoContext* c = pango_font_map_create_context(pango_cairo_font_map_get_default());
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        pango_cairo_context_set_font_options(c, options);
        cairo_font_options_destroy(options);
        return c;
    }();
    return context;
}

}  // namespace

std::string Utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// 9 points: 12 pixels at 96 dpi, as the Windows build asks its font mapper.
int FontPixels(int dpi) { return TwipsToPixels(9 * 20, dpi); }

PangoFontDescription* CaptionFont(int dpi) {
    PangoFontDescription* font = pango_font_description_from_string("WenQuanYi Micro Hei");
    pango_font_description_set_absolute_size(font, FontPixels(dpi) * PANGO_SCALE);
    return font;
}

void PaintKey(cairo_t* cr, int width, int height, Colour face, bool sunken, std::u16string_view caption,
              const PangoFontDescription* font, int em) {
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_clip(cr);
    Fill(cr, face, 0, 0, width, height);
    if (sunken) {
        Ring(cr, 0, width, height, kEdgeShadow, kEdgeHighlight);
        Ring(cr, 1, width, height, kEdgeDarkShadow, kEdgeLight);
    } else {
        Ring(cr, 0, width, height, kEdgeLight, kEdgeDarkShadow);
        Ring(cr, 1, width, height, kEdgeHighlight, kEdgeShadow);
    }

    // The caption goes on the face, inside the edge, and is clipped to it.
    const int faceLeft = 2, faceTop = 2, faceWidth = width - 4, faceHeight = height - 4;
    cairo_rectangle(cr, faceLeft, faceTop, faceWidth, faceHeight);
    cairo_clip(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, font);

    // Lines split at the line feed; a one-line caption too wide for the face
    // (the four-character ones such as "快照需求") is broken in the middle.
    const std::u16string shown = WithoutPrefixes(caption);
    const std::u16string_view view(shown);
    std::vector<std::string> lines;
    if (const std::size_t lf = shown.find(u'\n'); lf != std::u16string::npos) {
        lines = {Utf8(view.substr(0, lf)), Utf8(view.substr(lf + 1))};
    } else if (shown.size() > 1 && Measure(layout, Utf8(shown)).width > faceWidth) {
        const std::size_t half = (shown.size() + 1) / 2;
        lines = {Utf8(view.substr(0, half)), Utf8(view.substr(half))};
    } else {
        lines = {Utf8(shown)};
    }
    const int count = static_cast<int>(lines.size());

    // The lines take a text cell each and a pixel clear of the edge below the
    // last one; where two do not fit the face, they are set in the largest
    // smaller size that fits, as the Windows build sets them.
    PangoFontDescription* smaller = pango_font_description_copy(font);
    int cell = 0, clear = 0, ascent = 0;
    for (int px = em; px >= std::max(6, em / 2); --px) {
        pango_font_description_set_absolute_size(smaller, px * PANGO_SCALE);
        pango_layout_set_font_description(layout, smaller);
        // A text cell as Windows measures it: the font's ascent and descent, each rounded.
        PangoFontMetrics* metrics = pango_context_get_metrics(UnhintedContext(), smaller, nullptr);
        ascent = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics));
        cell = ascent + PANGO_PIXELS(pango_font_metrics_get_descent(metrics));
        pango_font_metrics_unref(metrics);
        clear = cell > px ? 0 : 1;  // a cell without leading above its glyphs gets a pixel
        bool fits = count == 1 || clear + count * cell + 1 <= faceHeight;
        for (const std::string& line : lines) fits = fits && (count == 1 || Measure(layout, line).width <= faceWidth);
        if (fits) break;
    }
    const int top = faceTop + (faceHeight - (clear + count * cell + 1)) / 2 + clear;
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (int i = 0; i < count; ++i) {
        const PangoRectangle r = Measure(layout, lines[static_cast<std::size_t>(i)]);
        const int baseline = PANGO_PIXELS(pango_layout_get_baseline(layout));
        cairo_move_to(cr, faceLeft + (faceWidth - r.width) / 2 - r.x, top + i * cell + ascent - baseline);
        pango_cairo_show_layout(cr, layout);
    }
    pango_font_description_free(smaller);
    g_object_unref(layout);
    cairo_restore(cr);
}

void PaintLabel(cairo_t* cr, int width, Colour text, std::u16string_view caption, const PangoFontDescription* font) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, font);
    const PangoRectangle r = Measure(layout, Utf8(caption));
    const Rgb rgb = FromColour(text);
    cairo_set_source_rgb(cr, rgb.r, rgb.g, rgb.b);
    cairo_move_to(cr, (width - r.width) / 2 - r.x, -r.y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

}  // namespace vimbrel
