// The frame every small Win32 program beside the keyboard shares (the tests'
// target and the probe's windows, the benchmark's floor): a window class, a
// top-level window, the message loop and the answers each of them gives.
#pragma once

#include <windows.h>

namespace app {

// Registers a window class of this program; false when the system refuses it.
// cursor: a system pointer (IDC_...), or nullptr for none.
inline bool RegisterWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background,
                                const wchar_t* cursor = IDC_ARROW) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = cursor ? LoadCursorW(nullptr, cursor) : nullptr;
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0;
}

// A top-level window of one of our classes with its outer rect at rc.
inline HWND CreateTopLevel(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style,
                           const RECT& rc) {
    return CreateWindowExW(exStyle, className, title, style, rc.left, rc.top, rc.right - rc.left,
                           rc.bottom - rc.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// The end of every window procedure here: a click never activates a window
// made with WS_EX_NOACTIVATE; the rest is the system's.
inline LRESULT CALLBACK DefaultAnswer(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_MOUSEACTIVATE && (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_NOACTIVATE)) return MA_NOACTIVATE;
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// The end of a program's main window procedure: the program ends with its window.
inline LRESULT CALLBACK MainWindowAnswer(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefaultAnswer(hwnd, msg, wp, lp);
}

// Runs the thread's messages until WM_QUIT; the exit code it carries.
inline int MessageLoop() {
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace app
