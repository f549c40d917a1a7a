// Painting of the owner-drawn key buttons: the face shows the key's colour.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/instrument.h"
#include "platform/win32/keyboard_window.h"

namespace vimbrel {

namespace {

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

int LineWidth(HDC dc, const std::wstring& line) {
    RECT measured{0, 0, 0, 0};
    DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &measured, DT_SINGLELINE | DT_CALCRECT);
    return measured.right - measured.left;
}

// A one-line caption too wide for its face is broken in the middle, as the
// design captions of four characters ("快照需求") are meant to be.
std::vector<std::wstring> CaptionLines(HDC dc, const std::wstring& caption, int faceWidth) {
    const std::size_t lf = caption.find(L'\n');
    if (lf != std::wstring::npos) return {caption.substr(0, lf), caption.substr(lf + 1)};
    if (caption.size() > 1 && LineWidth(dc, caption) > faceWidth)
        return {caption.substr(0, (caption.size() + 1) / 2), caption.substr((caption.size() + 1) / 2)};
    return {caption};
}

}  // namespace

namespace {
// The room a caption's lines take: a text cell (ascent and descent) each, the
// font's external leading between them, and a pixel clear of the edge below the
// last descent; above, the internal leading keeps the glyphs off the edge, or
// where a font has none, another pixel does.
int TopClearance(const TEXTMETRICW& tm) { return tm.tmInternalLeading > 0 ? 0 : 1; }
int BlockHeight(const TEXTMETRICW& tm, int count) {
    return TopClearance(tm) + count * tm.tmHeight + (count - 1) * tm.tmExternalLeading + 1;
}
}  // namespace

// The keys' font at a pixel height, or nullptr when it cannot be made.
HFONT KeyboardWindow::FontOfSize(int px) {
    if (px == fontHeight_) return static_cast<HFONT>(font_.get());
    for (const auto& [size, font] : captionFonts_)
        if (size == px) return static_cast<HFONT>(font.get());
    captionFonts_.emplace_back(px, MakeFont(px));
    return static_cast<HFONT>(captionFonts_.back().second.get());
}

// Where two lines, or a line's width, do not fit the face in the keys' font,
// the lines are set in the largest smaller size that fits. The largest size
// whose lines fit a face's height is found once for each height: most keys
// share one, and measuring every size at every paint slows the first one.
HFONT KeyboardWindow::CaptionFont(HDC dc, const std::vector<std::wstring>& lines, const RECT& face) {
    const int width = face.right - face.left;
    const int height = face.bottom - face.top;
    const int count = static_cast<int>(lines.size());
    const int smallest = std::max(6, fontHeight_ / 2);
    int px = -1;
    for (const HeightFit& fit : heightFits_)
        if (fit.height == height && fit.lines == count) px = fit.px;
    if (px < 0) {
        for (px = fontHeight_; px > smallest; --px) {
            HFONT font = FontOfSize(px);
            if (!font) break;
            SelectedObject selected(dc, font);
            TEXTMETRICW tm{};
            GetTextMetricsW(dc, &tm);
            if (BlockHeight(tm, count) <= height) break;
        }
        heightFits_.push_back({height, count, px});
    }
    HFONT font = FontOfSize(px);
    for (; font && px >= smallest; font = FontOfSize(--px)) {
        SelectedObject selected(dc, font);
        bool fits = true;
        for (const std::wstring& line : lines) fits = fits && LineWidth(dc, line) <= width;
        if (fits || px == smallest) break;
    }
    return font ? font : static_cast<HFONT>(font_.get());
}

// The lines are centred on the face, inside the raised edge, and drawn clipped
// to it. No DT_NOPREFIX, so "&&" shows one "&".
void KeyboardWindow::DrawCaption(HDC dc, const RECT& face, const std::wstring& caption) {
    std::vector<std::wstring> lines;
    {
        SelectedObject selected(dc, font_.get());
        lines = CaptionLines(dc, caption, face.right - face.left);
    }
    HFONT font = lines.size() > 1 ? CaptionFont(dc, lines, face) : static_cast<HFONT>(font_.get());
    SelectedObject selected(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int count = static_cast<int>(lines.size());
    const int pitch = tm.tmHeight + tm.tmExternalLeading;
    const int top = face.top + ((face.bottom - face.top) - BlockHeight(tm, count)) / 2 + TopClearance(tm);
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, face.left, face.top, face.right, face.bottom);
    for (int i = 0; i < count; ++i) {
        const std::wstring& line = lines[static_cast<std::size_t>(i)];
        RECT rc{face.left, top + i * pitch, face.right, top + i * pitch + tm.tmHeight};
        DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &rc, DT_CENTER | DT_TOP | DT_SINGLELINE);
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
    DrawCaption(dc, rc, WindowText(item.hwndItem));  // rc: the face, inside the edge
    if (buffered) BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, width, height, dc, 0, 0, SRCCOPY);
    return TRUE;
}

}  // namespace vimbrel
