// Reads the keyboard's windows for the end-to-end driver and prints plain lines.
//
// Usage: probe.exe <command> [args] [<command> [args] ...]
// Commands run in order, each printing one line per item as "name key=value ...";
// every text is printed as UTF-16 code units in hex ("0041000A2190"), so the
// driver compares exactly what the window holds. Rectangles are screen pixels
// "left,top,right,bottom".
//
//   keyboard                 the keyboard window (class ScreenKeyboard)
//   window CLASS             the first top-level window of that class
//   wait CLASS MS            like window, polling until it is visible or MS have passed
//   children                 every child of the keyboard window
//   child ID                 one child of the keyboard by control id (0x1041 or 4161)
//   foreground               the foreground window
//   count CLASS              how many top-level windows have that class
//   close CLASS              post WM_CLOSE to the first window of that class
//   invalidate               invalidate the keyboard's whole client area (forces WM_PAINT)
//   screen                   primary screen size and DPI
//   cursor                   GetCursorInfo: the pointer shown now and where it is
//   sleep MS                 wait, between two other commands
//
// The exit code is 0 when every window asked for was found, 1 otherwise, 2 on a usage error.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kKeyboardClass[] = L"ScreenKeyboard";

std::string Hex(const wchar_t* text, int length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < length; ++i) {
        const auto unit = static_cast<unsigned>(static_cast<unsigned short>(text[i]));
        for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(unit >> shift) & 0xF];
    }
    return out;
}

std::string Narrow(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

std::string TextOf(HWND hwnd) {
    wchar_t buffer[1024] = {};
    const int length = GetWindowTextW(hwnd, buffer, static_cast<int>(std::size(buffer)));
    return Hex(buffer, length);
}

std::string ClassOf(HWND hwnd) {
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, static_cast<int>(std::size(buffer)));
    return Narrow(buffer);
}

std::string RectText(const RECT& rc) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%ld,%ld,%ld,%ld", rc.left, rc.top, rc.right, rc.bottom);
    return buffer;
}

unsigned long HandleValue(const void* handle) {
    return static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(handle));
}

HWND Keyboard() { return FindWindowW(kKeyboardClass, nullptr); }

void PrintWindow(const char* name, const std::wstring& className, HWND hwnd) {
    if (!hwnd) {
        std::printf("%s class=%s none\n", name, Narrow(className.c_str()).c_str());
        return;
    }
    RECT window{}, client{};
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    std::printf("%s class=%s hwnd=0x%lx pid=%lu window=%s client=%s style=0x%08lx exstyle=0x%08lx "
                "visible=%d title=%s\n",
                name, ClassOf(hwnd).c_str(), HandleValue(hwnd), pid, RectText(window).c_str(),
                RectText(client).c_str(), static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_EXSTYLE)),
                IsWindowVisible(hwnd) ? 1 : 0, TextOf(hwnd).c_str());
}

void PrintChild(HWND child) {
    RECT rc{};
    GetWindowRect(child, &rc);
    std::printf("child id=0x%04lx class=%s window=%s visible=%d text=%s\n",
                static_cast<unsigned long>(GetDlgCtrlID(child)), ClassOf(child).c_str(),
                RectText(rc).c_str(), IsWindowVisible(child) ? 1 : 0, TextOf(child).c_str());
}

BOOL CALLBACK CollectDirectChild(HWND child, LPARAM lp) {
    auto& list = *reinterpret_cast<std::vector<HWND>*>(lp);
    if (GetParent(child) == Keyboard()) list.push_back(child);
    return TRUE;
}

struct ClassCount {
    std::wstring className;
    int all = 0;
    int visible = 0;
};

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM lp) {
    auto& count = *reinterpret_cast<ClassCount*>(lp);
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, static_cast<int>(std::size(buffer)));
    if (count.className == buffer) {
        ++count.all;
        if (IsWindowVisible(hwnd)) ++count.visible;
    }
    return TRUE;
}

class Commands {
public:
    Commands(int argc, wchar_t** argv) : argc_(argc), argv_(argv) {}

    int Run() {
        while (next_ < argc_) {
            const std::wstring command = argv_[next_++];
            if (!RunOne(command)) {
                std::fprintf(stderr, "probe: bad command or missing argument: %s\n",
                             Narrow(command.c_str()).c_str());
                return 2;
            }
            std::fflush(stdout);
        }
        return missing_ ? 1 : 0;
    }

private:
    bool Argument(std::wstring& out) {
        if (next_ >= argc_) return false;
        out = argv_[next_++];
        return true;
    }

    void Found(const char* name, const std::wstring& className, HWND hwnd) {
        if (!hwnd) missing_ = true;
        PrintWindow(name, className, hwnd);
    }

    bool RunOne(const std::wstring& command) {
        std::wstring arg, arg2;
        if (command == L"keyboard") {
            Found("window", kKeyboardClass, Keyboard());
        } else if (command == L"window") {
            if (!Argument(arg)) return false;
            Found("window", arg, FindWindowW(arg.c_str(), nullptr));
        } else if (command == L"wait") {
            if (!Argument(arg) || !Argument(arg2)) return false;
            const DWORD limit = std::wcstoul(arg2.c_str(), nullptr, 0);
            const DWORD start = GetTickCount();
            HWND hwnd = nullptr;
            for (;;) {
                hwnd = FindWindowW(arg.c_str(), nullptr);
                if ((hwnd && IsWindowVisible(hwnd)) || GetTickCount() - start >= limit) break;
                Sleep(50);
            }
            Found("window", arg, hwnd);
        } else if (command == L"children") {
            HWND keyboard = Keyboard();
            if (!keyboard) {
                Found("window", kKeyboardClass, nullptr);
                return true;
            }
            std::vector<HWND> children;
            EnumChildWindows(keyboard, CollectDirectChild, reinterpret_cast<LPARAM>(&children));
            for (HWND child : children) PrintChild(child);
            std::printf("children n=%u\n", static_cast<unsigned>(children.size()));
        } else if (command == L"child") {
            if (!Argument(arg)) return false;
            const int id = static_cast<int>(std::wcstoul(arg.c_str(), nullptr, 0));
            HWND keyboard = Keyboard();
            HWND child = keyboard ? GetDlgItem(keyboard, id) : nullptr;
            if (child) {
                PrintChild(child);
            } else {
                missing_ = true;
                std::printf("child id=0x%04x none\n", static_cast<unsigned>(id));
            }
        } else if (command == L"foreground") {
            HWND hwnd = GetForegroundWindow();
            if (!hwnd) {
                std::printf("foreground none\n");
            } else {
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                std::printf("foreground hwnd=0x%lx pid=%lu class=%s title=%s\n", HandleValue(hwnd),
                            pid, ClassOf(hwnd).c_str(), TextOf(hwnd).c_str());
            }
        } else if (command == L"count") {
            if (!Argument(arg)) return false;
            ClassCount count{arg};
            EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
            std::printf("count class=%s n=%d visible=%d\n", Narrow(arg.c_str()).c_str(), count.all,
                        count.visible);
        } else if (command == L"close") {
            if (!Argument(arg)) return false;
            HWND hwnd = FindWindowW(arg.c_str(), nullptr);
            if (!hwnd) missing_ = true;
            const bool posted = hwnd && PostMessageW(hwnd, WM_CLOSE, 0, 0);
            std::printf("close class=%s ok=%d\n", Narrow(arg.c_str()).c_str(), posted ? 1 : 0);
        } else if (command == L"invalidate") {
            HWND keyboard = Keyboard();
            if (!keyboard) missing_ = true;
            const bool done = keyboard && InvalidateRect(keyboard, nullptr, TRUE);
            std::printf("invalidate ok=%d\n", done ? 1 : 0);
        } else if (command == L"screen") {
            HDC dc = GetDC(nullptr);
            const int dpiX = GetDeviceCaps(dc, LOGPIXELSX);
            const int dpiY = GetDeviceCaps(dc, LOGPIXELSY);
            ReleaseDC(nullptr, dc);
            RECT work{};
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
            std::printf("screen width=%d height=%d dpix=%d dpiy=%d workarea=%s\n",
                        GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), dpiX, dpiY,
                        RectText(work).c_str());
        } else if (command == L"cursor") {
            CURSORINFO info{};
            info.cbSize = sizeof info;
            const bool ok = GetCursorInfo(&info);
            std::printf("cursor ok=%d handle=0x%lx flags=%lu x=%ld y=%ld\n", ok ? 1 : 0,
                        HandleValue(info.hCursor), static_cast<unsigned long>(info.flags),
                        info.ptScreenPos.x, info.ptScreenPos.y);
        } else if (command == L"sleep") {
            if (!Argument(arg)) return false;
            Sleep(std::wcstoul(arg.c_str(), nullptr, 0));
        } else {
            return false;
        }
        return true;
    }

    int argc_;
    wchar_t** argv_;
    int next_ = 1;
    bool missing_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Physical pixels, whatever DPI the display reports.
    SetProcessDPIAware();
    // Plain "\n" line ends for the driver.
    _setmode(_fileno(stdout), _O_BINARY);
    return Commands(argc, argv).Run();
}
