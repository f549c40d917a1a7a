// The keys look as the Windows build draws them: a flat face in the key's
// colour inside a two-pixel raised edge, the caption lines one em apart.
#include "platform/gtk/painter.h"

#include <pango/pangocairo.h>

#include <map>

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

namespace {

// A text cell as Windows measures it: the font's ascent and descent, each
// rounded. One font serves every key, so each size is measured once.
struct Cell {
    int ascent, height;
};

Cell CellAt(const PangoFontDescription* font, int px) {
    static std::map<int, Cell> cells;
    if (const auto known = cells.find(px); known != cells.end()) return known->second;
    PangoFontDescription* sized = pango_font_description_copy(font);
    pango_font_description_set_absolute_size(sized, px * PANGO_SCALE);
    PangoFontMetrics* metrics = pango_context_get_metrics(UnhintedContext(), sized, nullptr);
    const int ascent = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics));
    const Cell cell{ascent, ascent + PANGO_PIXELS(pango_font_metrics_get_descent(metrics))};
    pango_font_metrics_unref(metrics);
    pango_font_description_free(sized);
    return cells.emplace(px, cell).first->second;
}

}  // namespace

PangoMeasure::PangoMeasure(cairo_t* cr, const PangoFontDescription* font)
    : layout_(pango_cairo_create_layout(cr)), font_(pango_font_description_copy(font)) {}

PangoMeasure::~PangoMeasure() {
    pango_font_description_free(font_);
    g_object_unref(layout_);
}

PangoLayout* PangoMeasure::LayoutAt(int px) {
    if (px != px_) {
        px_ = px;
        pango_font_description_set_absolute_size(font_, px * PANGO_SCALE);
        pango_layout_set_font_description(layout_, font_);
    }
    return layout_;
}

// Lines a cell apart; a cell without leading above its glyphs gets a pixel.
LineMetrics PangoMeasure::Metrics(int px) {
    const Cell cell = CellAt(font_, px);
    return {cell.height, cell.height, cell.height > px ? 0 : 1};
}

int PangoMeasure::Width(std::u16string_view line, int px) { return Measure(LayoutAt(px), Utf8(line)).width; }

int PangoMeasure::Ascent(int px) { return CellAt(font_, px).ascent; }

void PaintKey(cairo_t* cr, int width, int height, Colour face, bool sunken, const CaptionFit& fit,
              PangoMeasure& measure, int ring) {
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
    const int faceLeft = kKeyEdge, faceTop = kKeyEdge, faceWidth = width - 2 * kKeyEdge;
    cairo_rectangle(cr, faceLeft, faceTop, faceWidth, height - 2 * kKeyEdge);
    cairo_clip(cr);
    PangoLayout* layout = measure.LayoutAt(fit.px);
    const int ascent = measure.Ascent(fit.px);
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (int i = 0; i < fit.count; ++i) {
        const PangoRectangle r = Measure(layout, Utf8(fit.lines[static_cast<std::size_t>(i)]));
        const int baseline = PANGO_PIXELS(pango_layout_get_baseline(layout));
        cairo_move_to(cr, faceLeft + (faceWidth - r.width) / 2 - r.x, faceTop + fit.top + i * fit.pitch + ascent - baseline);
        pango_cairo_show_layout(cr, layout);
    }
    for (int i = 0; i < ring; ++i) Ring(cr, kKeyEdge + i, width, height, kHeldRing, kHeldRing);
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
