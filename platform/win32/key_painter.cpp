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

// A caption's lines are set one em apart, not one text-cell apart: CJK fonts
// carry tall ascent and descent, and two of their cells do not fit a key 408
// twips high. A one-line caption too wide for its face is broken in the middle,
// as the design captions of four characters ("快照需求") are meant to be.
std::vector<std::wstring> CaptionLines(HDC dc, const std::wstring& caption, int faceWidth) {
    std::vector<std::wstring> lines;
    const std::size_t lf = caption.find(L'\n');
    if (lf != std::wstring::npos) {
        lines = {caption.substr(0, lf), caption.substr(lf + 1)};
    } else {
        RECT measured{0, 0, 0, 0};
        DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &measured, DT_SINGLELINE | DT_CALCRECT);
        if (measured.right - measured.left > faceWidth && caption.size() > 1)
            lines = {caption.substr(0, (caption.size() + 1) / 2), caption.substr((caption.size() + 1) / 2)};
        else
            lines = {caption};
    }
    return lines;
}

// No DT_NOPREFIX, so "&&" shows one "&".
void DrawCentredCaption(HDC dc, const RECT& face, const std::wstring& caption) {
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int em = std::max<int>(1, tm.tmHeight - tm.tmInternalLeading);
    const std::vector<std::wstring> lines = CaptionLines(dc, caption, face.right - face.left);
    const int count = static_cast<int>(lines.size());
    const int top = face.top + ((face.bottom - face.top) - count * em) / 2;
    for (int i = 0; i < count; ++i) {
        RECT rc{face.left, top + i * em, face.right, top + (i + 1) * em};
        DrawTextW(dc, lines[static_cast<std::size_t>(i)].c_str(), static_cast<int>(lines[static_cast<std::size_t>(i)].size()),
                  &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
    }
}

}  // namespace

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
    FillRect(dc, &rc, brushes_.For(keyColours_[row]));
    DrawEdge(dc, &rc, edge, BF_RECT | BF_ADJUST);
    {
        SelectedObject font(dc, font_.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 0));
        // Centred on the whole button: two lines of CJK text need every pixel of a key's height.
        rc.top = whole.top;
        rc.bottom = whole.bottom;
        DrawCentredCaption(dc, rc, WindowText(item.hwndItem));
    }
    if (buffered) BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, width, height, dc, 0, 0, SRCCOPY);
    return TRUE;
}

}  // namespace vimbrel
