// The application the benchmark types into: it takes the foreground and its
// low-level keyboard hook writes the QueryPerformanceCounter reading at which
// each key event reaches the system's hooks.
//
// Usage: bench_target.exe <log file>
//
// Log lines, flushed one by one so the driver can follow the file while we run:
//   ready hwnd=0x... hook=1 freq=10000000
//   key vk=65 up=0 injected=1 qpc=123456789
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

namespace {

constexpr wchar_t kClassName[] = L"VimbrelBenchTarget";

FILE* log_ = nullptr;
HHOOK hook_ = nullptr;

// The counter is read before anything else: the hook runs as soon as the
// system hands the event to hooks, before any window sees it.
LRESULT CALLBACK KeyboardHook(int code, WPARAM wp, LPARAM lp) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (code == HC_ACTION && log_) {
        const auto& event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
        std::fprintf(log_, "key vk=%lu up=%d injected=%d qpc=%lld\n", event.vkCode,
                     (event.flags & LLKHF_UP) ? 1 : 0, (event.flags & LLKHF_INJECTED) ? 1 : 0, now.QuadPart);
        std::fflush(log_);
    }
    return CallNextHookEx(hook_, code, wp, lp);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SYSCOMMAND:
        // Alt and F10 would start the menu loop of a window that has no menu.
        if ((wp & 0xFFF0) == SC_KEYMENU) return 0;
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    log_ = _wfopen(argv[1], L"wb");
    LocalFree(argv);
    if (!log_) return 3;

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);

    // Top left, clear of the keyboard at the bottom of the screen.
    HWND hwnd = CreateWindowExW(0, kClassName, L"Bench target", WS_OVERLAPPEDWINDOW, 40, 40, 320, 160, nullptr,
                                nullptr, instance, nullptr);
    if (!hwnd) return 4;
    hook_ = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHook, instance, 0);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    SetForegroundWindow(hwnd);
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    std::fprintf(log_, "ready hwnd=0x%lx hook=%d freq=%lld\n",
                 static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(hwnd)), hook_ ? 1 : 0, freq.QuadPart);
    std::fflush(log_);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (hook_) UnhookWindowsHookEx(hook_);
    std::fclose(log_);
    return 0;
}
