// The application the end-to-end tests and the benchmark type into: it takes the
// foreground and writes every key event the system sees, with the performance
// counter reading at which it reached the hooks, and every character and focus
// change its window receives, to a log.
//
// Usage: target.exe <log file> [hidden]
// "hidden": the window is never shown, so the hook logs while another program is in front.
//
// Log lines, flushed one by one so the driver can follow the file while we run:
//   ready hwnd=0x... hook=1 freq=10000000    window shown, hook installed, counter frequency
//   key vk=65 scan=0 flags=0x10 up=0 extra=0 qpc=123456789
//                                            low-level hook: one key event
//   char 0041                                WM_CHAR, the UTF-16 code unit in hex
//   syschar 0061                             WM_SYSCHAR (a character typed with Alt)
//   keymsg down vk=65 / keymsg up vk=65      WM_KEYDOWN/WM_SYSKEYDOWN and their ups
//   focus in / focus out                     our window gained or lost the keyboard focus
#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <iterator>

#include "app.h"

namespace {

constexpr wchar_t kClassName[] = L"VimbrelTarget";

FILE* log_ = nullptr;
HHOOK hook_ = nullptr;
wchar_t typed_[64] = {};
int typedCount_ = 0;

void LogLine(const char* format, ...) {
    if (!log_) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(log_, format, args);
    va_end(args);
    std::fputc('\n', log_);
    std::fflush(log_);
}

// The hook sees injected events too (LLKHF_INJECTED), before any window does,
// so it records exactly what the keyboard handed to the system. The counter is
// read before anything else: the benchmark times clicks to this moment.
LRESULT CALLBACK KeyboardHook(int code, WPARAM wp, LPARAM lp) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (code == HC_ACTION) {
        const auto& event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lp);
        LogLine("key vk=%lu scan=%lu flags=0x%lx up=%d extra=%lu qpc=%lld", event.vkCode, event.scanCode,
                event.flags, (event.flags & LLKHF_UP) ? 1 : 0, static_cast<unsigned long>(event.dwExtraInfo),
                now.QuadPart);
    }
    return CallNextHookEx(hook_, code, wp, lp);
}

void Remember(wchar_t c) {
    if (typedCount_ == static_cast<int>(std::size(typed_)) - 1) typedCount_ = 0;
    typed_[typedCount_++] = c >= 0x20 ? c : L'.';
    typed_[typedCount_] = 0;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        LogLine("keymsg down vk=%u", static_cast<unsigned>(wp));
        break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        LogLine("keymsg up vk=%u", static_cast<unsigned>(wp));
        break;
    case WM_CHAR:
        LogLine("char %04X", static_cast<unsigned>(wp & 0xFFFF));
        Remember(static_cast<wchar_t>(wp));
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_SYSCHAR:
        LogLine("syschar %04X", static_cast<unsigned>(wp & 0xFFFF));
        return 0;
    case WM_SYSCOMMAND:
        // F10 and Alt would open the window's system menu loop, which keeps the
        // following keys from reaching us as messages; the tests type them all.
        if ((wp & 0xFFF0) == SC_KEYMENU) return 0;
        break;
    case WM_SETFOCUS:
        LogLine("focus in");
        return 0;
    case WM_KILLFOCUS:
        LogLine("focus out");
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        // Chinese text shows in screenshots whether Wine found a CJK font.
        constexpr wchar_t kSample[] = L"Typed: \u6570\u5B57\u706F \u5927\u5199\u706F";
        TextOutW(dc, 8, 8, kSample, static_cast<int>(std::size(kSample)) - 1);
        TextOutW(dc, 8, 32, typed_, typedCount_);
        SelectObject(dc, oldFont);
        EndPaint(hwnd, &ps);
        return 0;
    }
    }
    return app::MainWindowAnswer(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    log_ = _wfopen(argv[1], L"ab");
    const bool hidden = argc > 2 && lstrcmpiW(argv[2], L"hidden") == 0;
    LocalFree(argv);
    if (!log_) return 3;

    // Top left, well clear of the keyboard at the bottom centre of the screen.
    if (!app::RegisterWindowClass(kClassName, WindowProc, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1))) return 4;
    HWND hwnd = app::CreateTopLevel(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW, {40, 40, 460, 280});
    if (!hwnd) return 4;
    hook_ = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHook, instance, 0);
    if (!hidden) {
        ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);
        SetForegroundWindow(hwnd);
        SetFocus(hwnd);
    }
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    LogLine("ready hwnd=0x%lx hook=%d freq=%lld", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(hwnd)),
            hook_ ? 1 : 0, freq.QuadPart);

    app::MessageLoop();
    if (hook_) UnhookWindowsHookEx(hook_);
    LogLine("exit");
    std::fclose(log_);
    return 0;
}
