// The tests' and the benchmark's eyes and hands inside the Wine session: reads
// the keyboard's windows, looks inside its process, asks what screen readers
// are told, starts and clicks programs, and prints plain lines.
//
// Usage: probe.exe <command> [args] [<command> [args] ...]
// Commands run in order, each printing one line per item as "name key=value ...".
// Texts are UTF-16 code units in hex; rectangles screen pixels "l,t,r,b".
//
// Windows (this file):
//   keyboard                 the keyboard window (class ScreenKeyboard)
//   window CLASS             the first top-level window of that class
//   wait CLASS MS            like window, polling until it is visible or MS have passed
//   children CLASS           every child of the first window of that class, then
//                            "children n=N window=l,t,r,b"
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
//                            what the menu functions tell of its menu (see PrintMenu)
//   tooltip                  the keyboard's tooltip window, then the tool it shows now and
//                            that tool's text, read inside the keyboard's process
//   pointerwindow NAME L T W H MS
//                            show a window of our own with the system pointer NAME (arrow,
//                            sizeall, hand) at L,T (W x H pixels) for MS milliseconds
//   refmenu L T DEFAULT MS TEXT...
//                            open a pop-up menu of our own at L,T with one item per TEXT
//                            (hex), the item at position DEFAULT the default one (-1: none);
//                            once it shows, print its window and "item pos=0 rect=..." for
//                            each item, and close it MS later
//   sleep MS                 wait, between two other commands
//   stdin                    read further commands from standard input, one request a line
//                            (words split at spaces, "..." keeps spaces), answering each
//                            with its lines and then "done exit=N"; "quit" ends
// Inside the keyboard's process (probe_inside.cpp): gui, handles, objects, font,
//   dpichanged, frame, endsession, syscommand, sysmenu, selftest.
// What screen readers are told (probe_acc.cpp): acc.
// Starting, timing and clicking programs (probe_bench.cpp): start, pending, end, move,
//   click, activate, qpc.
//
// The exit code is 0 when every window asked for was found and every call
// succeeded, 1 otherwise, 2 on a usage error.
#include "probe.h"

#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "app.h"

namespace probe {

bool Args::Word(std::wstring& out) {
    if (next_ >= words_.size()) return false;
    out = words_[next_++];
    return true;
}

bool Args::Number(long& out) {
    std::wstring text;
    if (!Word(text)) return false;
    wchar_t* end = nullptr;
    out = std::wcstol(text.c_str(), &end, 0);
    return end && *end == 0 && !text.empty();
}

bool Args::Window(std::wstring& className, HWND& first) {
    if (!Word(className)) return false;
    first = FindWindowW(className.c_str(), nullptr);
    return true;
}

std::string Hex(const wchar_t* text, std::size_t length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        const auto unit = static_cast<unsigned>(static_cast<unsigned short>(text[i]));
        for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(unit >> shift) & 0xF];
    }
    return out;
}

std::wstring FromHex(const std::wstring& hex) {
    std::wstring text;
    for (std::size_t i = 0; i + 4 <= hex.size(); i += 4)
        text += static_cast<wchar_t>(std::wcstoul(hex.substr(i, 4).c_str(), nullptr, 16));
    return text;
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
    return Hex(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
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

DWORD ProcessOf(HWND hwnd) {
    DWORD pid = 0;
    if (hwnd) GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

namespace {

struct TopLevelQuery {
    const std::wstring& className;
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM lp) {
    auto& query = *reinterpret_cast<TopLevelQuery*>(lp);
    wchar_t buffer[256] = {};
    GetClassNameW(hwnd, buffer, static_cast<int>(std::size(buffer)));
    if (query.className == buffer && (query.pid == 0 || ProcessOf(hwnd) == query.pid)) query.found.push_back(hwnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(const std::wstring& className, DWORD pid) {
    TopLevelQuery query{className, pid, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

void PrintWindow(const char* name, const std::wstring& className, HWND hwnd) {
    if (!hwnd) {
        std::printf("%s class=%s none\n", name, Narrow(className.c_str()).c_str());
        return;
    }
    RECT window{}, client{};
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    std::printf("%s class=%s hwnd=0x%lx pid=%lu owner=0x%lx window=%s client=%s style=0x%08lx "
                "exstyle=0x%08lx visible=%d title=%s\n",
                name, ClassOf(hwnd).c_str(), HandleValue(hwnd), ProcessOf(hwnd),
                HandleValue(GetWindow(hwnd, GW_OWNER)), RectText(window).c_str(), RectText(client).c_str(),
                static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_EXSTYLE)), IsWindowVisible(hwnd) ? 1 : 0,
                TextOf(hwnd).c_str());
}

void PrintChild(HWND child) {
    RECT rc{};
    GetWindowRect(child, &rc);
    std::printf("child id=0x%04lx class=%s window=%s visible=%d text=%s\n",
                static_cast<unsigned long>(GetDlgCtrlID(child)), ClassOf(child).c_str(), RectText(rc).c_str(),
                IsWindowVisible(child) ? 1 : 0, TextOf(child).c_str());
}

Result Failed(const char* command, const char* what) {
    std::printf("%s failed=%s error=%lu\n", command, what, static_cast<unsigned long>(GetLastError()));
    return Result::Missing;
}

namespace {

Result Found(const std::wstring& className, HWND hwnd) {
    PrintWindow("window", className, hwnd);
    return hwnd ? Result::Ok : Result::Missing;
}

// The first visible top-level window of the class that runs in the keyboard's
// process and, when `owned`, has the keyboard window as its owner.
HWND KeyboardTopLevel(const std::wstring& className, bool owned) {
    HWND keyboard = Keyboard();
    if (!keyboard) return nullptr;
    for (HWND hwnd : TopLevelWindows(className, ProcessOf(keyboard))) {
        if (!IsWindowVisible(hwnd)) continue;
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
        std::printf("item pos=%d ok=%d id=%u type=0x%x state=0x%x rect=%s text=%s\n", pos, ok ? 1 : 0, info.wID,
                    info.fType, info.fState, RectText(rc).c_str(), Hex(text, ok ? info.cch : 0).c_str());
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
Result Tooltip(Args&) {
    HWND keyboard = Keyboard();
    HWND tip = nullptr;
    for (HWND hwnd : TopLevelWindows(TOOLTIPS_CLASSW))
        if (keyboard && GetWindow(hwnd, GW_OWNER) == keyboard) tip = hwnd;
    PrintWindow("window", TOOLTIPS_CLASSW, tip);
    if (!tip) return Result::Missing;
    RemoteToolInfo remote(ProcessOf(tip));
    if (!remote.ok()) {
        std::printf("tool none error=%lu\n", GetLastError());
        return Result::Missing;
    }
    TTTOOLINFOW info{};
    info.cbSize = sizeof info;
    std::wstring text;
    const bool put = remote.Put(info);
    const LRESULT current = put ? SendMessageW(tip, TTM_GETCURRENTTOOLW, 0, remote.address()) : 0;
    if (!remote.Get(info, text)) return Result::Missing;
    const auto tool = reinterpret_cast<HWND>(info.uId);
    std::printf("tool current=%d hwnd=0x%lx id=0x%04lx flags=0x%x text=%s\n", current ? 1 : 0, HandleValue(tool),
                current ? static_cast<unsigned long>(GetDlgCtrlID(tool)) : 0ul, info.uFlags,
                Hex(text.data(), text.size()).c_str());
    if (!current) return Result::Ok;
    TTTOOLINFOW ask{};
    ask.cbSize = sizeof ask;
    ask.hwnd = info.hwnd;
    ask.uId = info.uId;
    bool asked = remote.Put(ask);
    if (asked) SendMessageW(tip, TTM_GETTEXTW, RemoteToolInfo::kTextChars, remote.address());
    asked = asked && remote.Get(ask, text);
    std::printf("tooltext ok=%d text=%s\n", asked ? 1 : 0, Hex(text.data(), text.size()).c_str());
    return Result::Ok;
}

// Shows a window of our own with a system pointer for `ms`, as a reference for
// the pointer images that other windows show.
Result PointerWindow(Args& args) {
    std::wstring name;
    long left = 0, top = 0, width = 0, height = 0, ms = 0;
    if (!args.Word(name) || !args.Number(left) || !args.Number(top) || !args.Number(width) ||
        !args.Number(height) || !args.Number(ms))
        return Result::Usage;
    const wchar_t* cursor = name == L"arrow"     ? IDC_ARROW
                            : name == L"sizeall" ? IDC_SIZEALL
                            : name == L"hand"    ? IDC_HAND
                                                 : nullptr;
    if (!cursor) return Result::Usage;
    // A class per pointer: the pointer belongs to the class.
    const std::wstring cls = L"VimbrelPointerSample_" + name;
    app::RegisterWindowClass(cls.c_str(), app::DefaultAnswer, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)),
                             cursor);
    HWND hwnd = app::CreateTopLevel(WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, cls.c_str(), L"", WS_POPUP,
                                    {left, top, left + width, top + height});
    if (!hwnd) return Failed("pointerwindow", "CreateWindowEx");
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    UpdateWindow(hwnd);
    std::printf("pointerwindow hwnd=0x%lx cursor=0x%lx\n", HandleValue(hwnd),
                HandleValue(reinterpret_cast<void*>(GetClassLongPtrW(hwnd, GCLP_HCURSOR))));
    std::fflush(stdout);
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < static_cast<DWORD>(ms); elapsed = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms) - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DestroyWindow(hwnd);
    return Result::Ok;
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
        for (std::size_t i = 0; i < texts.size(); ++i) AppendMenuW(self.menu_, MF_STRING, i + 1, texts[i].c_str());
        if (defaultPos >= 0) SetMenuDefaultItem(self.menu_, static_cast<UINT>(defaultPos), TRUE);
        constexpr wchar_t kClass[] = L"VimbrelReferenceMenuOwner";
        app::RegisterWindowClass(kClass, OwnerProc, nullptr, nullptr);
        HWND owner = app::CreateTopLevel(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kClass, L"", WS_POPUP, {});
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
        return app::DefaultAnswer(hwnd, msg, wp, lp);
    }

    // Prints the menu's window and its items' rects once it shows; false before.
    bool PrintOpenMenu() {
        HWND window = nullptr;
        for (HWND hwnd : TopLevelWindows(kMenuClass, GetCurrentProcessId()))
            if (IsWindowVisible(hwnd)) window = hwnd;
        if (!window) return false;
        PrintWindow("window", kMenuClass, window);
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

Result RefMenu(Args& args) {
    long left = 0, top = 0, defaultPos = 0, ms = 0;
    if (!args.Number(left) || !args.Number(top) || !args.Number(defaultPos) || !args.Number(ms))
        return Result::Usage;
    std::vector<std::wstring> texts;
    for (std::wstring hex; args.Word(hex);) texts.push_back(FromHex(hex));
    if (texts.empty()) return Result::Usage;
    return ReferenceMenu::Show(left, top, defaultPos, static_cast<DWORD>(ms), texts) ? Result::Ok
                                                                                      : Result::Missing;
}

Result KeyboardWindow(Args&) { return Found(kKeyboardClass, Keyboard()); }

Result Window(Args& args) {
    std::wstring cls;
    HWND hwnd = nullptr;
    if (!args.Window(cls, hwnd)) return Result::Usage;
    return Found(cls, hwnd);
}

Result Wait(Args& args) {
    std::wstring cls;
    long limit = 0;
    if (!args.Word(cls) || !args.Number(limit)) return Result::Usage;
    const DWORD start = GetTickCount();
    HWND hwnd = nullptr;
    for (;;) {
        hwnd = FindWindowW(cls.c_str(), nullptr);
        if ((hwnd && IsWindowVisible(hwnd)) || GetTickCount() - start >= static_cast<DWORD>(limit)) break;
        Sleep(50);
    }
    return Found(cls, hwnd);
}

Result Children(Args& args) {
    std::wstring cls;
    HWND parent = nullptr;
    if (!args.Window(cls, parent)) return Result::Usage;
    if (!parent) return Found(cls, nullptr);
    const std::vector<HWND> children = ChildrenOf(parent);
    for (HWND child : children) PrintChild(child);
    RECT rc{};
    GetWindowRect(parent, &rc);
    std::printf("children n=%u window=%s\n", static_cast<unsigned>(children.size()), RectText(rc).c_str());
    return Result::Ok;
}

Result Child(Args& args) {
    long id = 0;
    if (!args.Number(id)) return Result::Usage;
    HWND keyboard = Keyboard();
    HWND child = keyboard ? GetDlgItem(keyboard, static_cast<int>(id)) : nullptr;
    if (!child) {
        std::printf("child id=0x%04x none\n", static_cast<unsigned>(id));
        return Result::Missing;
    }
    PrintChild(child);
    return Result::Ok;
}

Result Foreground(Args&) {
    HWND hwnd = GetForegroundWindow();
    if (!hwnd) {
        std::printf("foreground none\n");
    } else {
        std::printf("foreground hwnd=0x%lx pid=%lu class=%s title=%s\n", HandleValue(hwnd), ProcessOf(hwnd),
                    ClassOf(hwnd).c_str(), TextOf(hwnd).c_str());
    }
    return Result::Ok;
}

Result Count(Args& args) {
    std::wstring cls;
    if (!args.Word(cls)) return Result::Usage;
    int visible = 0;
    const std::vector<HWND> all = TopLevelWindows(cls);
    for (HWND hwnd : all) visible += IsWindowVisible(hwnd) ? 1 : 0;
    std::printf("count class=%s n=%u visible=%d\n", Narrow(cls.c_str()).c_str(), static_cast<unsigned>(all.size()),
                visible);
    return Result::Ok;
}

Result Close(Args& args) {
    std::wstring cls;
    HWND hwnd = nullptr;
    if (!args.Window(cls, hwnd)) return Result::Usage;
    const bool posted = hwnd && PostMessageW(hwnd, WM_CLOSE, 0, 0);
    std::printf("close class=%s ok=%d\n", Narrow(cls.c_str()).c_str(), posted ? 1 : 0);
    return hwnd ? Result::Ok : Result::Missing;
}

// As the window's own minimise command does it (SC_MINIMIZE).
Result Minimise(Args&) {
    HWND keyboard = Keyboard();
    const bool posted = keyboard && PostMessageW(keyboard, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    std::printf("minimise ok=%d\n", posted ? 1 : 0);
    return keyboard ? Result::Ok : Result::Missing;
}

Result Invalidate(Args&) {
    HWND keyboard = Keyboard();
    const bool done = keyboard && InvalidateRect(keyboard, nullptr, TRUE);
    std::printf("invalidate ok=%d\n", done ? 1 : 0);
    return keyboard ? Result::Ok : Result::Missing;
}

Result Screen(Args&) {
    HDC dc = GetDC(nullptr);
    const int dpiX = GetDeviceCaps(dc, LOGPIXELSX);
    const int dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    std::printf("screen width=%d height=%d dpix=%d dpiy=%d workarea=%s\n", GetSystemMetrics(SM_CXSCREEN),
                GetSystemMetrics(SM_CYSCREEN), dpiX, dpiY, RectText(work).c_str());
    return Result::Ok;
}

Result Cursor(Args&) {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    const bool ok = GetCursorInfo(&info);
    std::printf("cursor ok=%d handle=0x%lx flags=%lu x=%ld y=%ld\n", ok ? 1 : 0, HandleValue(info.hCursor),
                static_cast<unsigned long>(info.flags), info.ptScreenPos.x, info.ptScreenPos.y);
    return Result::Ok;
}

Result Windows(Args& args) {
    std::wstring cls;
    if (!args.Word(cls)) return Result::Usage;
    const std::vector<HWND> all = TopLevelWindows(cls);
    for (HWND hwnd : all) PrintWindow("window", cls, hwnd);
    std::printf("windows class=%s n=%u\n", Narrow(cls.c_str()).c_str(), static_cast<unsigned>(all.size()));
    return Result::Ok;
}

Result Dialog(Args& args) {
    std::wstring cls;
    if (!args.Word(cls)) return Result::Usage;
    HWND dialog = KeyboardTopLevel(cls, true);
    const Result found = Found(cls, dialog);
    // Direct children only: a message box has no grandchildren worth reading.
    if (dialog)
        for (HWND child : ChildrenOf(dialog)) PrintChild(child);
    return found;
}

Result Menu(Args&) {
    HWND menuWindow = KeyboardTopLevel(kMenuClass, false);
    const Result found = Found(kMenuClass, menuWindow);
    if (menuWindow) PrintMenu(menuWindow);
    return found;
}

Result SleepFor(Args& args) {
    long ms = 0;
    if (!args.Number(ms)) return Result::Usage;
    Sleep(static_cast<DWORD>(ms));
    return Result::Ok;
}

Result Stdin(Args&);

constexpr Command kCommands[] = {
    {L"keyboard", KeyboardWindow},     {L"window", Window},       {L"wait", Wait},
    {L"children", Children},           {L"child", Child},         {L"foreground", Foreground},
    {L"count", Count},                 {L"close", Close},         {L"minimise", Minimise},
    {L"invalidate", Invalidate},       {L"screen", Screen},       {L"cursor", Cursor},
    {L"windows", Windows},             {L"dialog", Dialog},       {L"menu", Menu},
    {L"tooltip", Tooltip},             {L"pointerwindow", PointerWindow}, {L"refmenu", RefMenu},
    {L"sleep", SleepFor},              {L"stdin", Stdin},
};

const Command* Find(const std::wstring& name) {
    for (auto group : {WindowCommands(), InsideCommands(), AccCommands(), BenchCommands()})
        for (const Command& command : group)
            if (name == command.name) return &command;
    return nullptr;
}

// Runs the commands in `words`; 0, 1 or 2 as the exit code says. A usage
// error names the command on `usage`.
int RunAll(const std::vector<std::wstring>& words, FILE* usage) {
    bool missing = false;
    for (std::size_t next = 0; next < words.size();) {
        const std::wstring& name = words[next++];
        const Command* command = Find(name);
        Args args(words, next);
        const Result result = command ? command->run(args) : Result::Usage;
        if (result == Result::Usage) {
            std::fprintf(usage, "%sprobe: bad command or missing argument: %s\n", usage == stdout ? "error " : "",
                         Narrow(name.c_str()).c_str());
            return 2;
        }
        missing = missing || result == Result::Missing;
        next = args.next();
        std::fflush(stdout);
    }
    return missing ? 1 : 0;
}

// One request line as words: split at spaces, "..." keeps its spaces.
std::vector<std::wstring> Words(const std::wstring& line) {
    std::vector<std::wstring> words;
    std::wstring word;
    bool quoted = false, any = false;
    for (wchar_t c : line) {
        if (c == L'"') {
            quoted = !quoted;
            any = true;
        } else if ((c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') && !quoted) {
            if (any) words.push_back(word);
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) words.push_back(word);
    return words;
}

Result Stdin(Args&) {
    char line[8192];
    while (std::fgets(line, sizeof line, stdin)) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, line, -1, nullptr, 0);
        std::wstring text(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, line, -1, text.data(), n);
        text.resize(std::wcslen(text.c_str()));
        const std::vector<std::wstring> words = Words(text);
        if (words.size() == 1 && words[0] == L"quit") break;
        if (words.empty()) continue;
        std::printf("done exit=%d\n", RunAll(words, stdout));
        std::fflush(stdout);
    }
    return Result::Ok;
}

}  // namespace

std::span<const Command> WindowCommands() { return kCommands; }

}  // namespace probe

int wmain(int argc, wchar_t** argv) {
    // Physical pixels, whatever DPI the display reports.
    SetProcessDPIAware();
    // Plain "\n" line ends for the driver.
    _setmode(_fileno(stdout), _O_BINARY);
    return probe::RunAll(std::vector<std::wstring>(argv + 1, argv + argc), stderr);
}
