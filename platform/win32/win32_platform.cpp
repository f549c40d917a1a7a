// The keyboard window as the core's platform: each operation in a few lines
// with the Windows entry point the behaviour depends on.
#include <iterator>
#include <optional>
#include <string>

#include "layout/accessible_names.h"
#include "layout/physical_keys.h"
#include "layout/twips.h"
#include "platform/win32/accessible.h"
#include "platform/win32/keyboard_window.h"
#include "window/controls.h"

namespace vimbrel {

namespace {
const wchar_t* Wide(std::u16string_view s) { return reinterpret_cast<const wchar_t*>(s.data()); }
std::wstring WideString(std::u16string_view s) { return std::wstring(Wide(s), s.size()); }

// The modifier groups by the code the system reports their state under, with
// their left- and right-hand keys. Wine records a right-hand Shift, Ctrl or Alt
// sent with scan code 0 as the left-hand key, so only the generic code reads
// true for both; each Windows key keeps its own code.
struct ModifierGroup {
    BYTE state;
    BYTE hands[2];
};
constexpr ModifierGroup kModifierGroups[] = {
    {VK_SHIFT, {VK_LSHIFT, VK_RSHIFT}}, {VK_CONTROL, {VK_LCONTROL, VK_RCONTROL}},
    {VK_MENU, {VK_LMENU, VK_RMENU}},    {VK_LWIN, {VK_LWIN, 0}},
    {VK_RWIN, {VK_RWIN, 0}},
};

// The time a press of ours takes to show in the system's key state: a click
// handled right after a latch may otherwise read the latched key as up.
constexpr DWORD kPressSettles = 300;  // ms

bool Down(BYTE vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; }

// Closes the open pop-up menu when a button is pressed outside the keyboard's
// own windows. The system closes a menu on such a click only for the
// foreground application, and the keyboard never is that.
LRESULT CALLBACK MenuMouseHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION &&
        (wp == WM_LBUTTONDOWN || wp == WM_RBUTTONDOWN || wp == WM_MBUTTONDOWN || wp == WM_XBUTTONDOWN)) {
        const HWND under = WindowFromPoint(reinterpret_cast<const MSLLHOOKSTRUCT*>(lp)->pt);
        if (!under || GetWindowThreadProcessId(under, nullptr) != GetCurrentThreadId()) EndMenu();
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}
}  // namespace

// keybd_event, not SendInput: scan code 0, no extended-key flag, extra information 0.
void KeyboardWindow::KeyDown(std::uint8_t vk) {
    RepressDroppedModifiers(vk);
    SendKey(vk, true);
    NoteModifier(vk, true);
}

void KeyboardWindow::KeyUp(std::uint8_t vk) {
    SendKey(vk, false);
    NoteModifier(vk, false);
}

// Raw input reports a left- or right-hand modifier under its generic code.
USHORT RawCode(std::uint8_t vk) {
    switch (vk) {
    case VK_LSHIFT: case VK_RSHIFT: return VK_SHIFT;
    case VK_LCONTROL: case VK_RCONTROL: return VK_CONTROL;
    case VK_LMENU: case VK_RMENU: return VK_MENU;
    default: return vk;
    }
}

void KeyboardWindow::SendKey(std::uint8_t vk, bool down) {
    keybd_event(vk, 0, down ? 0 : KEYEVENTF_KEYUP, 0);
    echoes_.push_back({RawCode(vk), down, GetTickCount64()});
}

// A key of any keyboard, in any application (RIDEV_INPUTSINK): the physical
// keyboard's are shown on the key at their place; our own come back in the
// order sent and are dropped, as is one that has not come back within a second.
LRESULT KeyboardWindow::OnRawInput(HRAWINPUT input) {
    RAWINPUT raw{};
    UINT size = sizeof raw;
    if (GetRawInputData(input, RID_INPUT, &raw, &size, sizeof(RAWINPUTHEADER)) == static_cast<UINT>(-1) ||
        raw.header.dwType != RIM_TYPEKEYBOARD)
        return 0;
    const RAWKEYBOARD& k = raw.data.keyboard;
    const bool down = (k.Flags & RI_KEY_BREAK) == 0;
    const ULONGLONG now = GetTickCount64();
    while (!echoes_.empty() && now - echoes_.front().at > 1000) echoes_.pop_front();
    if (!echoes_.empty() && echoes_.front().vk == k.VKey && echoes_.front().down == down) {
        echoes_.pop_front();
        return 0;
    }
    const int scan = k.MakeCode | ((k.Flags & RI_KEY_E0) ? kE0 : 0) | ((k.Flags & RI_KEY_E1) ? kE1 : 0);
    if (const std::optional<KeyRef> key = KeyAtScan(scan)) keyboard_.PhysicalKey(*key, down);
    return 0;
}

void KeyboardWindow::NoteModifier(std::uint8_t vk, bool down) {
    for (std::size_t g = 0; g < std::size(kModifierGroups); ++g)
        for (int hand = 0; hand < 2; ++hand) {
            if (kModifierGroups[g].hands[hand] != vk) continue;
            ModifierLatch& latch = modifiers_[g];
            latch.held[hand] = down;
            latch.releasedLast = !down;
            if (down) latch.pressedAt = GetTickCount();
        }
}

// A latched modifier holds until its second click. Wine lets go of it when the
// pointer enters one of its windows from another, taking the modifiers' state
// from X again, which knows nothing of ours. So before a key goes out, each
// modifier the keyboard holds that the system reads as up is pressed again. On
// Windows the system keeps it and this never fires. A group whose last event
// from the keyboard was a release reads up because of that release (both hands
// count as one under Wine) and is left alone; so is the group being sent.
void KeyboardWindow::RepressDroppedModifiers(std::uint8_t sending) {
    const DWORD now = GetTickCount();
    for (std::size_t g = 0; g < std::size(kModifierGroups); ++g) {
        const ModifierGroup& group = kModifierGroups[g];
        ModifierLatch& latch = modifiers_[g];
        if (!latch.held[0] && !latch.held[1]) continue;
        if (latch.releasedLast || group.hands[0] == sending || group.hands[1] == sending) continue;
        if (now - latch.pressedAt < kPressSettles || Down(group.state)) continue;
        for (int hand = 0; hand < 2; ++hand)
            if (latch.held[hand]) SendKey(group.hands[hand], true);
        latch.pressedAt = now;
    }
}

// The key is painted with the next paint of the window, not at once: once,
// however many captions and colours a click changes.
void KeyboardWindow::RedrawKey(KeyRef key, KeyChange what) {
    const int row = RowOf(key);
    if (row < 0) return;
    HWND window = keyWindows_[row];
    // The window text is what automation reads as the caption; the keys'
    // subclass stores it and invalidates the key instead of painting it.
    if (what.caption) SetWindowTextW(window, WideString(keyboard_.States().Key(row).caption).c_str());
    if (what.colour || what.held) InvalidateRect(window, nullptr, FALSE);
    if (what.on) AccessibleStateChanged(window);
}

void KeyboardWindow::Focus(KeyRef key) {
    const int row = RowOf(key);
    if (row >= 0) SetFocus(keyWindows_[row]);
}

// A light's colour changes only between lit and dark.
void KeyboardWindow::RedrawLight(Light light) {
    HWND window = labelWindows_[LightRow(light)];
    InvalidateRect(window, nullptr, TRUE);
    AccessibleStateChanged(window);
    AccessibleValueChanged(window);
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

// The menu's owner is never the foreground window, and the system closes a
// menu on a click outside it only for the foreground window's. Making the
// keyboard the foreground window would take the focus from the application
// being typed into, so a low-level mouse hook, there only while the menu is
// open, ends the menu on a press outside the keyboard's windows.
int KeyboardWindow::ShowPopupMenu() {
    POINT pt{};
    GetCursorPos(&pt);
    HHOOK outside = SetWindowsHookExW(WH_MOUSE_LL, MenuMouseHook, instance_, 0);
    const int chosen = static_cast<int>(TrackPopupMenuEx(GetSubMenu(menu_.get(), 0),
                                                         TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, pt.x,
                                                         pt.y, hwnd_, nullptr));
    if (outside) UnhookWindowsHookEx(outside);
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
