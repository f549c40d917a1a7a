// Commands that look inside the running keyboard: its GUI resources, the font
// its keys draw with, and the messages the system sends it when the DPI
// changes or the session ends. Each prints one line "name key=value ...".
//
//   gui PID             GetGuiResources: GDI and USER objects of the process (and the error code)
//   handles PID         GetProcessHandleCount: the process's kernel handles
//   objects PID         counted inside the process by inject.dll: live GDI objects, and
//                       USER objects (windows, menus, icons and cursors)
//   font ID             WM_GETFONT of the keyboard's child ID, read by GetObject inside
//                       the keyboard process: lfHeight, lfWeight, lfCharSet
//   dpichanged DPI [DX DY]  sends WM_DPICHANGED (DPI, suggested rect at the window's place,
//                       moved by DX, DY, in the keyboard's own memory) and prints the result
//   frame DPI W H       the outer size of a window with the keyboard's styles whose client
//                       area is W x H, at DPI (AdjustWindowRectExForDpi)
//   endsession          sends WM_QUERYENDSESSION, then WM_ENDSESSION(TRUE), as a logoff does
//   syscommand CMD      posts WM_SYSCOMMAND: "close" (SC_CLOSE) or "mousemenu" (SC_MOUSEMENU
//                       with HTSYSMENU, which opens the window menu as a click on the
//                       title bar's icon does)
//   sysmenu             the window menu while it is open: its window's rect, and the
//                       screen point of its Close item, read inside the keyboard process
//   selftest            the counting of "objects", done in this process around making 20
//                       brushes, 5 menus, 5 windows and 5 icons and deleting the brushes:
//                       shows that it sees objects come and go under this system
//
// inject.dll must sit beside probe.exe.
#include "probe.h"

#include <tlhelp32.h>

#include <cstdio>

namespace probe {
namespace {

constexpr UINT kTimeoutMs = 10000;

// A system function of one pointer argument, run as a thread's start routine.
template <typename Fn>
LPTHREAD_START_ROUTINE AsThreadStart(Fn* function) {
    return reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(function));
}

std::wstring ExeDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    const auto slash = dir.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring{} : dir.substr(0, slash + 1);
}

// Runs one export of inject.dll on a new thread of another process and
// returns the thread's exit code. The DLL is loaded for the call and unloaded
// after it, so it leaves nothing behind that the next count would see.
class Injection {
public:
    explicit Injection(DWORD pid)
        : pid_(pid),
          process_(OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                   PROCESS_VM_READ | PROCESS_VM_WRITE,
                               FALSE, pid)) {}
    ~Injection() {
        if (remoteModule_) RunRemote(AsThreadStart(FreeLibrary),
                                     reinterpret_cast<void*>(remoteModule_));
        if (process_) CloseHandle(process_);
        if (local_) FreeLibrary(local_);
    }
    Injection(const Injection&) = delete;
    Injection& operator=(const Injection&) = delete;

    const char* error() const { return error_; }

    bool Load() {
        if (!pid_) return Fail("no keyboard");
        if (!process_) return Fail("OpenProcess");
        const std::wstring dll = ExeDirectory() + L"inject.dll";
        local_ = LoadLibraryW(dll.c_str());
        if (!local_) return Fail("LoadLibrary here");
        const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
        void* remotePath = VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!remotePath) return Fail("VirtualAllocEx");
        const bool written = WriteProcessMemory(process_, remotePath, dll.c_str(), bytes, nullptr);
        // kernel32 sits at the same address in every process of a session, so our
        // LoadLibraryW is theirs too.
        DWORD loaded = 0;
        const bool ran = written && RunRemote(AsThreadStart(LoadLibraryW), remotePath, &loaded);
        VirtualFreeEx(process_, remotePath, 0, MEM_RELEASE);
        if (!ran || !loaded) return Fail("LoadLibrary in the keyboard");
        // The thread's exit code holds only the low half of a 64-bit module
        // address: the base is read from the process's module list instead.
        remoteModule_ = RemoteBase(L"inject.dll");
        return remoteModule_ ? true : Fail("inject.dll in the keyboard's modules");
    }

    bool Call(const char* exportName, UINT_PTR argument, DWORD& result) {
        auto* local = reinterpret_cast<BYTE*>(GetProcAddress(local_, exportName));
        if (!local) return Fail("GetProcAddress");
        const UINT_PTR offset = static_cast<UINT_PTR>(local - reinterpret_cast<BYTE*>(local_));
        auto* remote = reinterpret_cast<LPTHREAD_START_ROUTINE>(remoteModule_ + offset);
        if (!RunRemote(remote, reinterpret_cast<void*>(argument), &result)) return Fail("remote thread");
        return true;
    }

private:
    bool Fail(const char* what) {
        if (!error_) error_ = what;
        return false;
    }

    UINT_PTR RemoteBase(const wchar_t* module) const {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid_);
        if (snapshot == INVALID_HANDLE_VALUE) return 0;
        MODULEENTRY32W entry{};
        entry.dwSize = sizeof entry;
        UINT_PTR base = 0;
        for (BOOL more = Module32FirstW(snapshot, &entry); more && !base; more = Module32NextW(snapshot, &entry))
            if (lstrcmpiW(entry.szModule, module) == 0) base = reinterpret_cast<UINT_PTR>(entry.modBaseAddr);
        CloseHandle(snapshot);
        return base;
    }

    bool RunRemote(LPTHREAD_START_ROUTINE start, void* argument, DWORD* result = nullptr) {
        HANDLE thread = CreateRemoteThread(process_, nullptr, 0, start, argument, 0, nullptr);
        if (!thread) return false;
        const bool done = WaitForSingleObject(thread, kTimeoutMs) == WAIT_OBJECT_0;
        DWORD code = 0;
        if (done) GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        if (result) *result = code;
        return done;
    }

    DWORD pid_;
    HANDLE process_;
    HMODULE local_ = nullptr;
    UINT_PTR remoteModule_ = 0;
    const char* error_ = nullptr;
};

Result Gui(Args& args) {
    long pid = 0;
    if (!args.Number(pid)) return Result::Usage;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return Failed("gui", "OpenProcess");
    SetLastError(0);
    const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    const DWORD gdiError = GetLastError();
    SetLastError(0);
    const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    const DWORD userError = GetLastError();
    CloseHandle(process);
    std::printf("gui gdi=%lu gdi_error=%lu user=%lu user_error=%lu\n", static_cast<unsigned long>(gdi),
                static_cast<unsigned long>(gdiError), static_cast<unsigned long>(user),
                static_cast<unsigned long>(userError));
    return Result::Ok;
}

Result Handles(Args& args) {
    long pid = 0;
    if (!args.Number(pid)) return Result::Usage;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process) return Failed("handles", "OpenProcess");
    DWORD count = 0;
    const bool ok = GetProcessHandleCount(process, &count);
    CloseHandle(process);
    if (!ok) return Failed("handles", "GetProcessHandleCount");
    std::printf("handles n=%lu\n", static_cast<unsigned long>(count));
    return Result::Ok;
}

Result Objects(Args& args) {
    long pid = 0;
    if (!args.Number(pid)) return Result::Usage;
    Injection injection(static_cast<DWORD>(pid));
    if (!injection.Load()) return Failed("objects", injection.error());
    // CountObjects' queries: 0 GDI objects, 1 windows, 2 menus, 3 icons and cursors.
    DWORD counts[4] = {};
    for (UINT_PTR q = 0; q < 4; ++q)
        if (!injection.Call("CountObjects", q, counts[q])) return Failed("objects", injection.error());
    std::printf("objects gdi=%lu windows=%lu menus=%lu icons=%lu user=%lu\n", static_cast<unsigned long>(counts[0]),
                static_cast<unsigned long>(counts[1]), static_cast<unsigned long>(counts[2]),
                static_cast<unsigned long>(counts[3]),
                static_cast<unsigned long>(counts[1] + counts[2] + counts[3]));
    return Result::Ok;
}

Result Font(Args& args) {
    long id = 0;
    if (!args.Number(id)) return Result::Usage;
    Injection injection(ProcessOf(Keyboard()));
    if (!injection.Load()) return Failed("font", injection.error());
    DWORD height = 0, weight = 0, charset = 0;
    const auto child = static_cast<UINT_PTR>(id);
    if (!injection.Call("FontHeight", child, height) || !injection.Call("FontWeight", child, weight) ||
        !injection.Call("FontCharSet", child, charset))
        return Failed("font", injection.error());
    // The exports answer 0x80000000 when the child, its font or GetObject is missing.
    if (height == 0x80000000u) return Failed("font", "no font on that child");
    std::printf("font id=0x%04x height=%ld weight=%lu charset=%lu\n", static_cast<unsigned>(id),
                static_cast<long>(static_cast<LONG>(height)), static_cast<unsigned long>(weight),
                static_cast<unsigned long>(charset));
    return Result::Ok;
}

// WM_DPICHANGED carries a pointer to the suggested rect, read by the receiver
// in its own address space: the rect is written into the keyboard's memory.
Result DpiChanged(Args& args) {
    long dpi = 0, dx = 0, dy = 0;
    if (!args.Number(dpi)) return Result::Usage;
    if (args.Number(dx) && !args.Number(dy)) return Result::Usage;
    HWND keyboard = Keyboard();
    if (!keyboard) return Failed("dpichanged", "no keyboard");
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, ProcessOf(keyboard));
    if (!process) return Failed("dpichanged", "OpenProcess");
    RECT suggested{};
    GetWindowRect(keyboard, &suggested);
    OffsetRect(&suggested, static_cast<int>(dx), static_cast<int>(dy));
    void* remote = VirtualAllocEx(process, nullptr, sizeof suggested, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote || !WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr)) {
        CloseHandle(process);
        return Failed("dpichanged", "WriteProcessMemory");
    }
    DWORD_PTR result = 0;
    const auto both = static_cast<WORD>(dpi);
    const bool sent = SendMessageTimeoutW(keyboard, WM_DPICHANGED, MAKEWPARAM(both, both),
                                          reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, kTimeoutMs, &result);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    if (!sent) return Failed("dpichanged", "SendMessageTimeout");
    std::printf("dpichanged dpi=%ld result=%lu rect=%s\n", dpi, static_cast<unsigned long>(result),
                RectText(suggested).c_str());
    return Result::Ok;
}

Result Frame(Args& args) {
    long dpi = 0, width = 0, height = 0;
    if (!args.Number(dpi) || !args.Number(width) || !args.Number(height)) return Result::Usage;
    using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    auto adjust = reinterpret_cast<AdjustForDpi>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    HWND keyboard = Keyboard();
    if (!keyboard || !adjust) return Failed("frame", keyboard ? "no AdjustWindowRectExForDpi" : "no keyboard");
    RECT rc{0, 0, width, height};
    const auto style = static_cast<DWORD>(GetWindowLongW(keyboard, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(keyboard, GWL_EXSTYLE));
    if (!adjust(&rc, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        return Failed("frame", "AdjustWindowRectExForDpi");
    std::printf("frame dpi=%ld width=%ld height=%ld\n", dpi, rc.right - rc.left, rc.bottom - rc.top);
    return Result::Ok;
}

Result EndSession(Args&) {
    HWND keyboard = Keyboard();
    if (!keyboard) return Failed("endsession", "no keyboard");
    DWORD_PTR query = 0, end = 0;
    if (!SendMessageTimeoutW(keyboard, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &query))
        return Failed("endsession", "WM_QUERYENDSESSION");
    if (!SendMessageTimeoutW(keyboard, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &end))
        return Failed("endsession", "WM_ENDSESSION");
    std::printf("endsession query=%lu end=%lu\n", static_cast<unsigned long>(query),
                static_cast<unsigned long>(end));
    return Result::Ok;
}

Result SysCommand(Args& args) {
    std::wstring word;
    if (!args.Word(word) || (word != L"close" && word != L"mousemenu")) return Result::Usage;
    HWND keyboard = Keyboard();
    if (!keyboard) return Failed("syscommand", "no keyboard");
    WPARAM command = SC_CLOSE;
    LPARAM at = 0;
    if (word == L"mousemenu") {
        // What a click on the title bar's icon becomes: the menu opens below it.
        RECT rc{};
        GetWindowRect(keyboard, &rc);
        command = SC_MOUSEMENU | HTSYSMENU;
        at = MAKELPARAM(rc.left + 8, rc.top + 8);
    }
    // Posted: the window menu runs a modal loop, which must not hold us.
    if (!PostMessageW(keyboard, WM_SYSCOMMAND, command, at)) return Failed("syscommand", "PostMessage");
    std::printf("syscommand command=0x%04lx ok=1\n", static_cast<unsigned long>(command));
    return Result::Ok;
}

Result SysMenu(Args&) {
    // The visible pop-up menu window of the keyboard's process.
    const DWORD pid = ProcessOf(Keyboard());
    HWND popup = nullptr;
    for (HWND hwnd : pid ? TopLevelWindows(kMenuClass, pid) : std::vector<HWND>{})
        if (!popup && IsWindowVisible(hwnd)) popup = hwnd;
    if (!popup) {
        std::printf("sysmenu none\n");
        return Result::Missing;
    }
    RECT rc{};
    GetWindowRect(popup, &rc);
    Injection injection(pid);
    DWORD close = 0;
    if (!injection.Load() || !injection.Call("WindowMenuClose", 0, close)) return Failed("sysmenu", injection.error());
    if (close == 0x80000000u) return Failed("sysmenu", "no Close item");
    std::printf("sysmenu rect=%s pid=%lu close=%d,%d\n", RectText(rc).c_str(), static_cast<unsigned long>(pid),
                static_cast<int>(static_cast<short>(LOWORD(close))),
                static_cast<int>(static_cast<short>(HIWORD(close))));
    return Result::Ok;
}

Result SelfTest(Args&) {
    const std::wstring dll = ExeDirectory() + L"inject.dll";
    HMODULE module = LoadLibraryW(dll.c_str());
    auto count = module ? reinterpret_cast<LPTHREAD_START_ROUTINE>(
                              reinterpret_cast<void*>(GetProcAddress(module, "CountObjects")))
                        : nullptr;
    if (!count) return Failed("selftest", "inject.dll");
    // Each kind is counted just before and after its own objects are made.
    auto made = [&](UINT_PTR query, auto make) {
        const DWORD before = count(reinterpret_cast<void*>(query));
        make();
        return static_cast<long>(count(reinterpret_cast<void*>(query)) - before);
    };
    auto newWindow = [] {
        return CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    };
    HGDIOBJ brushes[20];
    HMENU menus[5];
    HWND windows[5];
    HICON icons[5];
    const BYTE andMask[32 * 4] = {}, xorMask[32 * 4] = {};
    const long gdi = made(0, [&] { for (auto& b : brushes) b = CreateSolidBrush(RGB(1, 2, 3)); });
    const long menu = made(2, [&] { for (auto& m : menus) m = CreatePopupMenu(); });
    // The thread's first window brings the thread's input-method window with it.
    HWND first = newWindow();
    const long window = made(1, [&] { for (auto& w : windows) w = newWindow(); });
    const long icon = made(3, [&] { for (auto& i : icons) i = CreateIcon(nullptr, 32, 32, 1, 1, andMask, xorMask); });
    const long gdiGone = made(0, [&] { for (auto b : brushes) DeleteObject(b); });
    for (auto m : menus) DestroyMenu(m);
    for (auto w : windows) DestroyWindow(w);
    DestroyWindow(first);
    for (auto i : icons) DestroyIcon(i);
    FreeLibrary(module);
    std::printf("selftest gdi=%ld gdi_deleted=%ld windows=%ld menus=%ld icons=%ld\n", gdi, -gdiGone, window, menu,
                icon);
    return Result::Ok;
}

constexpr Command kCommands[] = {
    {L"gui", Gui},         {L"handles", Handles},       {L"objects", Objects},       {L"font", Font},
    {L"dpichanged", DpiChanged}, {L"frame", Frame},      {L"endsession", EndSession}, {L"syscommand", SysCommand},
    {L"sysmenu", SysMenu}, {L"selftest", SelfTest},
};

}  // namespace

std::span<const Command> InsideCommands() { return kCommands; }

}  // namespace probe
