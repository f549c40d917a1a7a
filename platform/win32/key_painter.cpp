// Painting of the owner-drawn key buttons: the face shows the key's colour.
#include <algorithm>
#include <string>
#include <string_view>

#include "layout/twips.h"
#include "platform/win32/instrument.h"
#include "platform/win32/keyboard_window.h"

namespace vimbrel {

// The keys' font as caption fitting measures it, in the DC a key is drawn in.
class GdiMeasure final : public CaptionMeasure {
public:
    GdiMeasure(HDC dc, KeyboardWindow& window) : dc_(dc), window_(window) {}

    // Lines a text cell and the font's external leading apart; above, the
    // internal leading keeps the glyphs off the edge, or where a font has
    // none, a pixel does.
    LineMetrics Metrics(int px) override {
        SelectedObject selected(dc_, window_.FontOfSize(px));
        TEXTMETRICW tm{};
        GetTextMetricsW(dc_, &tm);
        return {tm.tmHeight, tm.tmHeight + tm.tmExternalLeading, tm.tmInternalLeading > 0 ? 0 : 1};
    }

    int Width(std::u16string_view line, int px) override {
        SelectedObject selected(dc_, window_.FontOfSize(px));
        RECT measured{0, 0, 0, 0};
        DrawTextW(dc_, reinterpret_cast<const wchar_t*>(line.data()), static_cast<int>(line.size()), &measured,
                  DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
        return measured.right - measured.left;
    }

private:
    HDC dc_;
    KeyboardWindow& window_;
};

// The keys' font at a pixel height; the keys' own where a smaller one cannot be made.
HFONT KeyboardWindow::FontOfSize(int px) {
    if (px == fontHeight_) return static_cast<HFONT>(font_.get());
    for (const auto& [size, font] : captionFonts_)
        if (size == px) return static_cast<HFONT>(font.get());
    captionFonts_.emplace_back(px, MakeFont(px));
    HFONT made = static_cast<HFONT>(captionFonts_.back().second.get());
    return made ? made : static_cast<HFONT>(font_.get());
}

// The lines as fitted to the face, centred on it and clipped to it. The core
// has already made "&&" one "&": no prefix processing here.
void KeyboardWindow::DrawCaption(HDC dc, const RECT& face, const CaptionFit& fit) {
    SelectedObject selected(dc, FontOfSize(fit.px));
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, face.left, face.top, face.right, face.bottom);
    for (int i = 0; i < fit.count; ++i) {
        const std::u16string& line = fit.lines[static_cast<std::size_t>(i)];
        const int top = face.top + fit.top + i * fit.pitch;
        RECT rc{face.left, top, face.right, top + fit.lineHeight};
        DrawTextW(dc, reinterpret_cast<const wchar_t*>(line.data()), static_cast<int>(line.size()), &rc,
                  DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    }
    RestoreDC(dc, saved);
}

// The face is drawn off screen and copied in one go, so a key whose caption or
// colour changes never shows its bare face between the fill and the text. The
// focus itself adds nothing to the face: the highlight is the colour the core
// sets, so a change of focus alone is not drawn.
LRESULT KeyboardWindow::OnDrawItem(const DRAWITEMSTRUCT& item) {
    if (item.CtlType != ODT_BUTTON) return FALSE;
    const int row = RowOf(item.hwndItem);
    if (row < 0) return FALSE;
    if (item.itemAction == ODA_FOCUS) return TRUE;
    const UINT edge = (item.itemState & ODS_SELECTED) ? EDGE_SUNKEN : EDGE_RAISED;
    // Pressing and letting go change only the edge: redraw just that, so the
    // click reaches the application without waiting for a whole face.
    if (item.itemAction == ODA_SELECT) {
        RECT rc = item.rcItem;
        DrawEdge(item.hDC, &rc, edge, BF_RECT);
        return TRUE;
    }
    VIMBREL_COUNT_PAINT(item.hwndItem);
    const int width = item.rcItem.right - item.rcItem.left;
    const int height = item.rcItem.bottom - item.rcItem.top;
    HDC dc = faceBuffer_.Get(item.hDC, width, height);
    const bool buffered = dc != nullptr;
    if (!buffered) dc = item.hDC;
    const RECT whole = buffered ? RECT{0, 0, width, height} : item.rcItem;
    RECT rc = whole;
    FillRect(dc, &rc, brushes_.For(keyboard_.States().Key(static_cast<std::size_t>(row)).colour));
    DrawEdge(dc, &rc, edge, BF_RECT | BF_ADJUST);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    // rc: the face, inside the edge
    GdiMeasure measure(dc, *this);
    const CaptionBox box{rc.right - rc.left, rc.bottom - rc.top, fontHeight_};
    const KeyState& state = keyboard_.States().Key(static_cast<std::size_t>(row));
    DrawCaption(dc, rc, keyboard_.States().Fit(static_cast<std::size_t>(row), box, measure));
    if (state.held) {
        // The held ring, inside the edge; the face and caption stay as they are.
        const int ring = std::max(1, TwipsToPixels(kHeldRingTwips, dpi_));
        HBRUSH red = brushes_.For(kHeldRing);
        const RECT sides[] = {{rc.left, rc.top, rc.right, rc.top + ring},
                              {rc.left, rc.bottom - ring, rc.right, rc.bottom},
                              {rc.left, rc.top, rc.left + ring, rc.bottom},
                              {rc.right - ring, rc.top, rc.right, rc.bottom}};
        for (const RECT& side : sides) FillRect(dc, &side, red);
    }
    if (buffered) BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, width, height, dc, 0, 0, SRCCOPY);
    return TRUE;
}

}  // namespace vimbrel
