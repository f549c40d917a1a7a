// The keyboard window as the core's platform: each operation in a few lines
// with the Windows entry point the behaviour depends on.
#include <string>

#include "layout/accessible_names.h"
#include "layout/twips.h"
#include "platform/win32/accessible.h"
#include "platform/win32/keyboard_window.h"
#include "window/controls.h"

namespace vimbrel {

namespace {
const wchar_t* Wide(std::u16string_view s) { return reinterpret_cast<const wchar_t*>(s.data()); }
std::wstring WideString(std::u16string_view s) { return std::wstring(Wide(s), s.size()); }
}  // namespace

// keybd_event, not SendInput: scan code 0, no extended-key flag, extra information 0.
void KeyboardWindow::KeyDown(std::uint8_t vk) { keybd_event(vk, 0, 0, 0); }
void KeyboardWindow::KeyUp(std::uint8_t vk) { keybd_event(vk, 0, KEYEVENTF_KEYUP, 0); }

void KeyboardWindow::SetCaption(KeyRef key, std::u16string_view text) {
    const int row = RowOf(key);
    if (row < 0) return;
    // The text is stored as the button would store it, without the button's own
    // immediate repaint: the key is painted once, with the next paint of the
    // window, however many captions a click rewrites.
    DefWindowProcW(keyWindows_[row], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(WideString(text).c_str()));
    InvalidateRect(keyWindows_[row], nullptr, FALSE);
}

Colour KeyboardWindow::BackColour(KeyRef key) const {
    const int row = RowOf(key);
    return row >= 0 ? keyColours_[row] : kWhite;
}

void KeyboardWindow::SetBackColour(KeyRef key, Colour colour) {
    const int row = RowOf(key);
    if (row < 0 || keyColours_[row] == colour) return;
    const bool wasHeld = KeyHeld(key.control, keyColours_[row]);
    keyColours_[row] = colour;
    InvalidateRect(keyWindows_[row], nullptr, FALSE);
    if (KeyHeld(key.control, colour) != wasHeld) AccessibleStateChanged(keyWindows_[row]);
}

void KeyboardWindow::Focus(KeyRef key) {
    const int row = RowOf(key);
    if (row >= 0) SetFocus(keyWindows_[row]);
}

Colour KeyboardWindow::LightColour(Light light) const {
    for (std::size_t i = 0; i < kLabels.size(); ++i)
        if (kLabels[i].isLight && kLabels[i].light == light) return labelColours_[i];
    return kReleasedBlue;
}

void KeyboardWindow::SetLightColour(Light light, Colour colour) {
    for (std::size_t i = 0; i < kLabels.size(); ++i) {
        if (!kLabels[i].isLight || kLabels[i].light != light) continue;
        const bool wasLit = LightLit(labelColours_[i]);
        labelColours_[i] = colour;
        InvalidateRect(labelWindows_[i], nullptr, TRUE);
        if (LightLit(colour) != wasLit) {
            AccessibleStateChanged(labelWindows_[i]);
            AccessibleValueChanged(labelWindows_[i]);
        }
    }
}

// Shown without painting at once: the first paint comes with the start-up
// captions already in place, so no key is drawn twice.
void KeyboardWindow::Show() { ShowWindow(hwnd_, SW_SHOWNORMAL); }

void KeyboardWindow::StayOnTop() {
    SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void KeyboardWindow::NeverActivate() {
    SetWindowLongA(hwnd_, GWL_EXSTYLE, GetWindowLongA(hwnd_, GWL_EXSTYLE) | WS_EX_NOACTIVATE);
}

// Sizes in twips at the window's DPI; the full screen, not the work area.
ScreenMetrics KeyboardWindow::Metrics() const {
    RECT rc{};
    GetWindowRect(hwnd_, &rc);
    return {static_cast<float>(PixelsToTwips(GetSystemMetrics(SM_CXSCREEN), dpi_)),
            static_cast<float>(PixelsToTwips(GetSystemMetrics(SM_CYSCREEN), dpi_)),
            static_cast<float>(PixelsToTwips(rc.right - rc.left, dpi_)),
            static_cast<float>(PixelsToTwips(rc.bottom - rc.top, dpi_))};
}

void KeyboardWindow::SetLeft(float twips) {
    RECT rc{};
    GetWindowRect(hwnd_, &rc);
    const int x = TwipsToPixels(twips, dpi_);
    if (x != rc.left)
        SetWindowPos(hwnd_, nullptr, x, rc.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void KeyboardWindow::SetTop(float twips) {
    RECT rc{};
    GetWindowRect(hwnd_, &rc);
    const int y = TwipsToPixels(twips, dpi_);
    if (y != rc.top)
        SetWindowPos(hwnd_, nullptr, rc.left, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The press becomes a press on a title bar: the system's move loop moves the
// window with the mouse and the call returns when the move ends.
void KeyboardWindow::BeginMove() {
    ReleaseCapture();
    SendMessageA(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void KeyboardWindow::Minimise() { ShowWindow(hwnd_, SW_MINIMIZE); }

int KeyboardWindow::ShowPopupMenu() {
    POINT pt{};
    GetCursorPos(&pt);
    const int chosen = static_cast<int>(TrackPopupMenuEx(GetSubMenu(menu_.get(), 0),
                                                         TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, pt.x,
                                                         pt.y, hwnd_, nullptr));
    return chosen - 1;  // command ids are rows plus one; 0, nothing chosen, becomes -1
}

void KeyboardWindow::ShowMessage(std::u16string_view title, std::u16string_view text) {
    MessageBoxW(hwnd_, WideString(text).c_str(), WideString(title).c_str(), MB_OK);
}

// The system shell hands the address to the user's browser, shown maximised.
// Fire and forget: a shell that cannot be started is not reported.
void KeyboardWindow::OpenAddress(std::u16string_view address) {
    std::wstring line = L"explorer.exe " + WideString(address);  // CreateProcessW may write into it
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWMAXIMIZED;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

}  // namespace vimbrel
