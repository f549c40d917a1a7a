// Loaded into the keyboard's process by probe.exe, which runs one of
// these exports there on a thread of its own. Handles to GDI objects mean
// something only inside the process that made them, so whatever needs one is
// read here. Each export answers with its thread's exit code.
#include <windows.h>

namespace {

constexpr DWORD kMissing = 0x80000000u;
constexpr wchar_t kKeyboardClass[] = L"ScreenKeyboard";

// Handle values of the two tables, index part only: a handle without its
// generation bits names the entry that is live now.
constexpr UINT_PTR kGdiHandles = 0x10000;
constexpr UINT_PTR kFirstUserHandle = 0x0020;
constexpr UINT_PTR kLastUserHandle = 0xFFEF;

DWORD CountGdi() {
    DWORD n = 0;
    for (UINT_PTR h = 1; h < kGdiHandles; ++h)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(h))) ++n;
    return n;
}

DWORD CountWindows() {
    const DWORD self = GetCurrentProcessId();
    DWORD n = 0;
    for (UINT_PTR h = kFirstUserHandle; h <= kLastUserHandle; h += 2) {
        HWND hwnd = reinterpret_cast<HWND>(h);
        DWORD pid = 0;
        if (IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, &pid) && pid == self) ++n;
    }
    return n;
}

DWORD CountMenus() {
    DWORD n = 0;
    for (UINT_PTR h = kFirstUserHandle; h <= kLastUserHandle; h += 2)
        if (!IsWindow(reinterpret_cast<HWND>(h)) && IsMenu(reinterpret_cast<HMENU>(h))) ++n;
    return n;
}

// An icon or cursor is whatever DrawIconEx can draw; the bitmap it draws on is ours.
DWORD CountIcons() {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 1, 1);
    HGDIOBJ old = SelectObject(dc, bitmap);
    DWORD n = 0;
    for (UINT_PTR h = kFirstUserHandle; h <= kLastUserHandle; h += 2) {
        if (IsWindow(reinterpret_cast<HWND>(h)) || IsMenu(reinterpret_cast<HMENU>(h))) continue;
        if (DrawIconEx(dc, 0, 0, reinterpret_cast<HICON>(h), 1, 1, 0, nullptr, DI_NORMAL)) ++n;
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return n;
}

bool KeyFont(UINT_PTR id, LOGFONTW& lf) {
    HWND keyboard = FindWindowW(kKeyboardClass, nullptr);
    HWND child = keyboard ? GetDlgItem(keyboard, static_cast<int>(id)) : nullptr;
    HGDIOBJ font = child ? reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0)) : nullptr;
    return font && GetObjectW(font, sizeof lf, &lf) == sizeof lf;
}

}  // namespace

extern "C" {

// 0: live GDI objects; 1: windows of this process; 2: menus; 3: icons and cursors.
__declspec(dllexport) DWORD WINAPI CountObjects(LPVOID query) {
    switch (reinterpret_cast<UINT_PTR>(query)) {
    case 0: return CountGdi();
    case 1: return CountWindows();
    case 2: return CountMenus();
    case 3: return CountIcons();
    }
    return kMissing;
}

__declspec(dllexport) DWORD WINAPI FontHeight(LPVOID id) {
    LOGFONTW lf{};
    return KeyFont(reinterpret_cast<UINT_PTR>(id), lf) ? static_cast<DWORD>(lf.lfHeight) : kMissing;
}

__declspec(dllexport) DWORD WINAPI FontWeight(LPVOID id) {
    LOGFONTW lf{};
    return KeyFont(reinterpret_cast<UINT_PTR>(id), lf) ? static_cast<DWORD>(lf.lfWeight) : kMissing;
}

__declspec(dllexport) DWORD WINAPI FontCharSet(LPVOID id) {
    LOGFONTW lf{};
    return KeyFont(reinterpret_cast<UINT_PTR>(id), lf) ? static_cast<DWORD>(lf.lfCharSet) : kMissing;
}

// The screen point at the middle of Close on the keyboard's window menu while
// that menu is open, as MAKELONG(x, y).
__declspec(dllexport) DWORD WINAPI WindowMenuClose(LPVOID) {
    HWND keyboard = FindWindowW(kKeyboardClass, nullptr);
    HMENU menu = keyboard ? GetSystemMenu(keyboard, FALSE) : nullptr;
    if (!menu) return kMissing;
    for (int pos = 0, n = GetMenuItemCount(menu); pos < n; ++pos) {
        RECT rc{};
        if (GetMenuItemID(menu, pos) == SC_CLOSE && GetMenuItemRect(nullptr, menu, static_cast<UINT>(pos), &rc))
            return MAKELONG((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    }
    return kMissing;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
