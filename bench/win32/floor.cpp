// The floor the keyboard is measured against: the least a Win32 program with
// the keyboard's window must cost. One window of the same style and client size
// at the real DPI, the 104 keys as plain buttons at the same places with the
// same control ids, each click sending its key's press and release with
// keybd_event, and clicks that never activate the window. Nothing else: no
// owner drawing, colours, captions that change, tooltips, cursors or menu.
#include <windows.h>

#include <array>

#include "layout/key_table.h"
#include "tests/e2e/win32/app.h"
#include "layout/twips.h"
#include "platform/control_ids.h"
#include "window/controls.h"

namespace {

static_assert(sizeof(wchar_t) == 2, "the key table's UTF-16 captions are handed to the W functions as is");

constexpr wchar_t kClassName[] = L"VimbrelFloor";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr vimbrel::Twips kClientLeft = 3675;
constexpr vimbrel::Twips kClientTop = 4485;

// Each key's virtual-key code, worked out while compiling from the keyboard's own tables.
constexpr std::array<BYTE, vimbrel::kKeys.size()> kCodes = [] {
    std::array<BYTE, vimbrel::kKeys.size()> codes{};
    for (std::size_t row = 0; row < codes.size(); ++row) codes[row] = static_cast<BYTE>(vimbrel::VirtualKeyOf(vimbrel::kKeys[row].key));
    return codes;
}();

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        if (const int row = vimbrel::IsKeyControlId(LOWORD(wp)) ? vimbrel::KeyRow(vimbrel::KeyFromControlId(LOWORD(wp))) : -1;
            HIWORD(wp) == BN_CLICKED && row >= 0) {
            const BYTE vk = kCodes[static_cast<std::size_t>(row)];
            keybd_event(vk, 0, 0, 0);
            keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
        }
        return 0;
    }
    return app::MainWindowAnswer(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using vimbrel::TwipsToPixels;
    SetProcessDPIAware();
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);

    if (!app::RegisterWindowClass(kClassName, WindowProc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) return 1;
    RECT rc{TwipsToPixels(kClientLeft, dpi), TwipsToPixels(kClientTop, dpi),
            TwipsToPixels(kClientLeft + vimbrel::kClientWidth, dpi),
            TwipsToPixels(kClientTop + vimbrel::kClientHeight, dpi)};
    AdjustWindowRectEx(&rc, kWindowStyle, FALSE, WS_EX_NOACTIVATE);
    HWND hwnd = app::CreateTopLevel(WS_EX_NOACTIVATE, kClassName, L"Floor", kWindowStyle, rc);
    if (!hwnd) return 1;
    for (const vimbrel::KeyDef& k : vimbrel::kKeys) {
        const vimbrel::PixelRect r = vimbrel::ToPixels(k.left, k.top, k.width, k.height, dpi);
        CreateWindowExW(0, L"BUTTON", reinterpret_cast<const wchar_t*>(k.caption.data()),
                        WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, r.left, r.top, r.right - r.left, r.bottom - r.top,
                        hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(vimbrel::KeyControlId(k.key))),
                        instance, nullptr);
    }
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
    return app::MessageLoop();
}
