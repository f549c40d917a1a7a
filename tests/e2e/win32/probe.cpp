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
//   minimise                 post SC_MINIMIZE to the keyboard window
//   invalidate               invalidate the keyboard's whole client area (forces WM_PAINT)
//   screen                   primary screen size and DPI
//   cursor                   GetCursorInfo: the pointer shown now and where it is
//   windows CLASS            every top-level window of that class, with its owner
//   dialog CLASS             the first visible top-level window of that class owned by the
//                            keyboard, then each of its children
//   menu                     the visible pop-up menu window of the keyboard's process, then
//                            what the menu functions tell of its menu (see Menu below)
//   tooltip                  the keyboard's tooltip window, then the tool it shows now and
//                            that tool's text, read inside the keyboard's process
//   pointerwindow NAME L T W H MS
//                            show a window of our own with the system pointer NAME (arrow,
//                            sizeall, hand) at L,T (W x H pixels) for MS milliseconds
//   refmenu L T DEFAULT MS TEXT...
//                            open a pop-up menu of our own at L,T with one item per TEXT
//                            (UTF-16 code units in hex), the item at position DEFAULT the
//                            default one (-1: none); once it shows, print its window and
//                            "item pos=0 rect=..." for each item, and close it MS later
//   sleep MS                 wait, between two other commands
//
// The exit code is 0 when every window asked for was found, 1 otherwise, 2 on a usage error.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    std::printf("%s class=%s hwnd=0x%lx pid=%lu owner=0x%lx window=%s client=%s style=0x%08lx "
                "exstyle=0x%08lx visible=%d title=%s\n",
                name, ClassOf(hwnd).c_str(), HandleValue(hwnd), pid,
                HandleValue(GetWindow(hwnd, GW_OWNER)), RectText(window).c_str(),
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

struct TopLevel {
    std::wstring className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM lp) {
    auto& list = *reinterpret_cast<TopLevel*>(lp);
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, static_cast<int>(std::size(buffer)));
    if (list.className == buffer) list.found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(const std::wstring& className) {
    TopLevel list{className, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&list));
    return list.found;
}

DWORD ProcessOf(HWND hwnd) {
    DWORD pid = 0;
    if (hwnd) GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

// The first visible top-level window of the class that runs in the keyboard's
// process and, when `owned`, has the keyboard window as its owner.
HWND KeyboardTopLevel(const std::wstring& className, bool owned) {
    HWND keyboard = Keyboard();
    if (!keyboard) return nullptr;
    for (HWND hwnd : TopLevelWindows(className)) {
        if (!IsWindowVisible(hwnd) || ProcessOf(hwnd) != ProcessOf(keyboard)) continue;
        if (owned && GetWindow(hwnd, GW_OWNER) != keyboard) continue;
        return hwnd;
    }
    return nullptr;
}

// Menu: "menu hmenu=0x... count=N default=P error=E", then one line per item,
// "item pos=0 id=1 type=0x0 state=0x1000 rect=l,t,r,b text=...". The menu
// functions read menus of other processes on Windows; where they cannot,
// count is -1 and error is GetLastError() of GetMenuItemCount.
void PrintMenu(HWND menuWindow) {
    const auto menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    SetLastError(0);
    const int count = menu ? GetMenuItemCount(menu) : -1;
    const unsigned long error = GetLastError();
    const UINT byPosition = menu ? GetMenuDefaultItem(menu, TRUE, 0) : static_cast<UINT>(-1);
    std::printf("menu hmenu=0x%lx count=%d default=%d error=%lu\n", HandleValue(menu), count,
                static_cast<int>(byPosition), error);
    for (int pos = 0; pos < count; ++pos) {
        wchar_t text[256] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = static_cast<UINT>(std::size(text));
        const bool ok = GetMenuItemInfoW(menu, static_cast<UINT>(pos), TRUE, &info);
        RECT rc{};
        GetMenuItemRect(nullptr, menu, static_cast<UINT>(pos), &rc);
        std::printf("item pos=%d ok=%d id=%u type=0x%x state=0x%x rect=%s text=%s\n", pos, ok ? 1 : 0,
                    info.wID, info.fType, info.fState, RectText(rc).c_str(),
                    Hex(text, ok ? static_cast<int>(info.cch) : 0).c_str());
    }
}

// Tooltip messages carry pointers, which the system does not carry across
// processes: the structure and its text buffer live in the keyboard's memory.
class RemoteToolInfo {
public:
    static constexpr int kTextChars = 512;

    explicit RemoteToolInfo(DWORD pid)
        : process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid)) {
        if (process_)
            remote_ = static_cast<char*>(
                VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteToolInfo() {
        if (remote_) VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteToolInfo(const RemoteToolInfo&) = delete;
    RemoteToolInfo& operator=(const RemoteToolInfo&) = delete;

    bool ok() const { return remote_ != nullptr; }
    LPARAM address() const { return reinterpret_cast<LPARAM>(remote_); }

    // Writes `info` with its text pointer aimed at the remote buffer, and an empty text.
    bool Put(TTTOOLINFOW info) {
        info.lpszText = reinterpret_cast<wchar_t*>(remote_ + sizeof(TTTOOLINFOW));
        std::vector<char> data(kSize, 0);
        std::memcpy(data.data(), &info, sizeof info);
        return WriteProcessMemory(process_, remote_, data.data(), kSize, nullptr);
    }
    bool Get(TTTOOLINFOW& info, std::wstring& text) {
        std::vector<char> data(kSize, 0);
        if (!ReadProcessMemory(process_, remote_, data.data(), kSize, nullptr)) return false;
        std::memcpy(&info, data.data(), sizeof info);
        const auto* chars = reinterpret_cast<const wchar_t*>(data.data() + sizeof(TTTOOLINFOW));
        text.assign(chars, wcsnlen(chars, kTextChars - 1));
        return true;
    }

private:
    static constexpr std::size_t kSize = sizeof(TTTOOLINFOW) + kTextChars * sizeof(wchar_t);
    HANDLE process_;
    char* remote_ = nullptr;
};

// Tooltip: the tooltip window, "tool current=1 id=0x1041 text=..." (TTM_GETCURRENTTOOLW)
// and "tooltext ok=1 text=..." (TTM_GETTEXTW for that tool).
bool PrintTooltip() {
    HWND keyboard = Keyboard();
    HWND tip = nullptr;
    for (HWND hwnd : TopLevelWindows(TOOLTIPS_CLASSW))
        if (keyboard && GetWindow(hwnd, GW_OWNER) == keyboard) tip = hwnd;
    PrintWindow("window", TOOLTIPS_CLASSW, tip);
    if (!tip) return false;
    RemoteToolInfo remote(ProcessOf(tip));
    if (!remote.ok()) {
        std::printf("tool none error=%lu\n", GetLastError());
        return false;
    }
    TTTOOLINFOW info{};
    info.cbSize = sizeof info;
    std::wstring text;
    const bool put = remote.Put(info);
    const LRESULT current = put ? SendMessageW(tip, TTM_GETCURRENTTOOLW, 0, remote.address()) : 0;
    if (!remote.Get(info, text)) return false;
    const auto tool = reinterpret_cast<HWND>(info.uId);
    std::printf("tool current=%d hwnd=0x%lx id=0x%04lx flags=0x%x text=%s\n", current ? 1 : 0,
                HandleValue(tool), current ? static_cast<unsigned long>(GetDlgCtrlID(tool)) : 0ul,
                info.uFlags, Hex(text.data(), static_cast<int>(text.size())).c_str());
    if (!current) return true;
    TTTOOLINFOW ask{};
    ask.cbSize = sizeof ask;
    ask.hwnd = info.hwnd;
    ask.uId = info.uId;
    bool asked = remote.Put(ask);
    if (asked) SendMessageW(tip, TTM_GETTEXTW, RemoteToolInfo::kTextChars, remote.address());
    asked = asked && remote.Get(ask, text);
    std::printf("tooltext ok=%d text=%s\n", asked ? 1 : 0, Hex(text.data(), static_cast<int>(text.size())).c_str());
    return true;
}

LRESULT CALLBACK SampleWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_MOUSEACTIVATE) return MA_NOACTIVATE;
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// A window that shows a system pointer, as a reference for the pointer images
// that other windows show.
bool ShowPointerWindow(const std::wstring& name, int left, int top, int width, int height, DWORD ms) {
    const wchar_t* cursor = name == L"arrow"     ? IDC_ARROW
                            : name == L"sizeall" ? IDC_SIZEALL
                            : name == L"hand"    ? IDC_HAND
                                                 : nullptr;
    if (!cursor) return false;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = SampleWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, cursor);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = L"VimbrelPointerSample";
    RegisterClassExW(&wc);
    HWND hwnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, wc.lpszClassName, L"",
                                WS_POPUP, left, top, width, height, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd) return false;
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    UpdateWindow(hwnd);
    std::printf("pointerwindow hwnd=0x%lx cursor=0x%lx\n", HandleValue(hwnd), HandleValue(wc.hCursor));
    std::fflush(stdout);
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < ms; elapsed = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DestroyWindow(hwnd);
    return true;
}

int Number(const std::wstring& text) { return static_cast<int>(std::wcstol(text.c_str(), nullptr, 0)); }

std::wstring FromHex(const std::wstring& hex) {
    std::wstring text;
    for (std::size_t i = 0; i + 4 <= hex.size(); i += 4)
        text += static_cast<wchar_t>(std::wcstoul(hex.substr(i, 4).c_str(), nullptr, 16));
    return text;
}

// A pop-up menu drawn by the system for us, to compare with the keyboard's by
// their pictures where the system does not let us read another process's menu.
// It stays open for `ms` after it has been printed, and at most kGiveUpTicks
// polls of kPollMs for it to show.
class ReferenceMenu {
public:
    static bool Show(int left, int top, int defaultPos, DWORD ms, const std::vector<std::wstring>& texts) {
        ReferenceMenu self;
        self.menu_ = CreatePopupMenu();
        self.ms_ = ms;
        for (std::size_t i = 0; i < texts.size(); ++i)
            AppendMenuW(self.menu_, MF_STRING, i + 1, texts[i].c_str());
        if (defaultPos >= 0) SetMenuDefaultItem(self.menu_, static_cast<UINT>(defaultPos), TRUE);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VimbrelReferenceMenuOwner";
        RegisterClassExW(&wc);
        HWND owner = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, wc.lpszClassName, L"", WS_POPUP, 0, 0,
                                     0, 0, nullptr, nullptr, wc.hInstance, nullptr);
        if (!owner) return false;
        SetWindowLongPtrW(owner, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&self));
        SetTimer(owner, kPollTimer, kPollMs, nullptr);
        TrackPopupMenuEx(self.menu_, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_NOANIMATION, left, top,
                         owner, nullptr);
        DestroyWindow(owner);
        DestroyMenu(self.menu_);
        return self.printed_;
    }

private:
    static constexpr UINT_PTR kPollTimer = 1;
    static constexpr UINT_PTR kEndTimer = 2;
    static constexpr UINT kPollMs = 100;
    static constexpr int kGiveUpTicks = 50;

    static LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<ReferenceMenu*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == WM_TIMER && self) {
            if (wp == kPollTimer && (self->PrintOpenMenu() || ++self->ticks_ >= kGiveUpTicks)) {
                KillTimer(hwnd, kPollTimer);
                SetTimer(hwnd, kEndTimer, self->printed_ ? self->ms_ : 0, nullptr);
            } else if (wp == kEndTimer) {
                KillTimer(hwnd, kEndTimer);
                EndMenu();
            }
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    // Prints the menu's window and its items' rects once it shows; false before.
    bool PrintOpenMenu() {
        HWND window = nullptr;
        for (HWND hwnd : TopLevelWindows(L"#32768"))
            if (IsWindowVisible(hwnd) && ProcessOf(hwnd) == GetCurrentProcessId()) window = hwnd;
        if (!window) return false;
        PrintWindow("window", L"#32768", window);
        for (int pos = 0; pos < GetMenuItemCount(menu_); ++pos) {
            RECT rc{};
            GetMenuItemRect(nullptr, menu_, static_cast<UINT>(pos), &rc);
            std::printf("item pos=%d rect=%s\n", pos, RectText(rc).c_str());
        }
        std::fflush(stdout);
        printed_ = true;
        return true;
    }

    HMENU menu_ = nullptr;
    DWORD ms_ = 0;
    int ticks_ = 0;
    bool printed_ = false;
};

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
        } else if (command == L"minimise") {
            // As the window's own minimise command does it (SC_MINIMIZE).
            HWND keyboard = Keyboard();
            if (!keyboard) missing_ = true;
            const bool posted = keyboard && PostMessageW(keyboard, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            std::printf("minimise ok=%d\n", posted ? 1 : 0);
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
        } else if (command == L"windows") {
            if (!Argument(arg)) return false;
            const std::vector<HWND> all = TopLevelWindows(arg);
            for (HWND hwnd : all) PrintWindow("window", arg, hwnd);
            std::printf("windows class=%s n=%u\n", Narrow(arg.c_str()).c_str(),
                        static_cast<unsigned>(all.size()));
        } else if (command == L"dialog") {
            if (!Argument(arg)) return false;
            HWND dialog = KeyboardTopLevel(arg, true);
            Found("window", arg, dialog);
            if (dialog) {
                // Direct children only: a message box has no grandchildren worth reading.
                for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                    PrintChild(child);
            }
        } else if (command == L"menu") {
            HWND menuWindow = KeyboardTopLevel(L"#32768", false);
            Found("window", L"#32768", menuWindow);
            if (menuWindow) PrintMenu(menuWindow);
        } else if (command == L"tooltip") {
            if (!PrintTooltip()) missing_ = true;
        } else if (command == L"pointerwindow") {
            std::wstring size[5];
            if (!Argument(arg)) return false;
            for (auto& value : size)
                if (!Argument(value)) return false;
            if (!ShowPointerWindow(arg, Number(size[0]), Number(size[1]), Number(size[2]), Number(size[3]),
                                   static_cast<DWORD>(Number(size[4]))))
                return false;
        } else if (command == L"refmenu") {
            std::wstring numbers[4];
            for (auto& value : numbers)
                if (!Argument(value)) return false;
            std::vector<std::wstring> texts;
            while (next_ < argc_) texts.push_back(FromHex(argv_[next_++]));
            if (texts.empty()) return false;
            if (!ReferenceMenu::Show(Number(numbers[0]), Number(numbers[1]), Number(numbers[2]),
                                     static_cast<DWORD>(Number(numbers[3])), texts))
                missing_ = true;
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
