// The benchmark's hands inside the Wine session: it starts the programs under
// test, times their start-up, reads their windows and clicks their keys.
//
// Usage: bench_driver.exe, then one command per line on stdin; each answers
// with one line on stdout (children with one line per child, then a summary).
// Times are QueryPerformanceCounter ticks, shared by every process of the session.
//
//   start CLASS PATH     start the exe at PATH and time its first complete paint:
//                        a visible top-level window of class CLASS owned by the
//                        new process, its 104 key buttons visible, no update
//                        region left on the window or any key, and the program in
//                        its message loop. After WaitForInputIdle, a look checks
//                        the windows, sends the window a WM_NULL, waits for the
//                        answer and checks again; looks repeat every millisecond
//                        until one passes. The paint counts as complete when the
//                        program answered the WM_NULL of that look, so the figure
//                        includes the look's first check.
//                        -> started pid=N idle_ms=T painted_ms=T looks=N dirty=N look_ms=T
//                        ms from just before CreateProcess; idle_ms -1: the wait
//                        failed; looks: how many; dirty: looks that saw everything
//                        shown but something left to paint; look_ms: the last
//                        look, from its start to the end of its second check.
//   pending CLASS        with the thread of a program we started held, invalidate one
//                        of its keys and look whether the update region shows from
//                        here -> pending before=0 seen=1 (seen=0: Wine does not show
//                        us another process's update regions, and start cannot tell
//                        a paint still to come from one done)
//   children CLASS       child id=0x1041 rect=l,t,r,b visible=1 text=HEX ... ,
//                        then: children n=N window=l,t,r,b (screen pixels)
//   move X Y             put the pointer there -> moved x=X y=Y
//   click X Y SETTLE     move there, wait SETTLE ms, then a left press and release
//                        in one SendInput -> clicked qpc=Q (read just before SendInput)
//   activate CLASS       make that window the foreground -> foreground class=...
//   close CLASS          WM_CLOSE, wait up to 5 s for the process, else end it -> closed exit=N
//   qpc                  -> qpc now=Q freq=F
//   quit
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/control_ids.h"

namespace {

constexpr int kKeyCount = 104;
constexpr DWORD kStartTimeoutMs = 30000;

LONGLONG Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double Milliseconds(LONGLONG ticks) {
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(freq.QuadPart);
}

std::string Hex(const wchar_t* text, int length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < length; ++i) {
        const auto unit = static_cast<unsigned>(static_cast<unsigned short>(text[i]));
        for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(unit >> shift) & 0xF];
    }
    return out;
}

struct TopLevelQuery {
    const wchar_t* className;
    DWORD pid;  // 0: any process
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM lp) {
    auto& query = *reinterpret_cast<TopLevelQuery*>(lp);
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
    if (std::wcscmp(name, query.className) != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (query.pid != 0 && pid != query.pid) return TRUE;
    query.found = hwnd;
    return FALSE;
}

HWND FindTopLevel(const std::wstring& className, DWORD pid = 0) {
    TopLevelQuery query{className.c_str(), pid, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM lp) {
    auto& children = *reinterpret_cast<std::vector<HWND>*>(lp);
    if (GetParent(child) == reinterpret_cast<HWND>(children.front())) children.push_back(child);
    return TRUE;
}

// Direct children only; the parent rides in front and is dropped.
std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children{parent};
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
    children.erase(children.begin());
    return children;
}

bool HasUpdateRegion(HWND hwnd) {
    RECT rc{};
    return GetUpdateRect(hwnd, &rc, FALSE) != FALSE;
}

enum class PaintState { NoWindow, Incomplete, Dirty, Complete };

// Dirty: everything is shown but something is still waiting to be painted.
PaintState KeysPainted(HWND top) {
    if (!top || !IsWindowVisible(top)) return top ? PaintState::Incomplete : PaintState::NoWindow;
    bool dirty = HasUpdateRegion(top);
    int keys = 0;
    for (HWND child : ChildrenOf(top)) {
        if (!vimbrel::IsKeyControlId(GetDlgCtrlID(child))) continue;
        if (!IsWindowVisible(child)) return PaintState::Incomplete;
        ++keys;
        if (!dirty && HasUpdateRegion(child)) dirty = true;
    }
    if (keys != kKeyCount) return PaintState::Incomplete;
    return dirty ? PaintState::Dirty : PaintState::Complete;
}

class Driver {
public:
    void Run() {
        // The first window calls of a process are slow (the window system is
        // set up on first use); they must not land inside a timed start.
        FindTopLevel(L"Shell_TrayWnd");
        HasUpdateRegion(GetDesktopWindow());
        char line[4096];
        while (std::fgets(line, sizeof line, stdin)) {
            std::wstring text = Wide(line);
            while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
            if (text == L"quit") break;
            if (!text.empty()) Execute(text);
            std::fflush(stdout);
        }
        for (auto& [name, pi] : started_) {
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }

private:
    static std::wstring Wide(const char* utf8) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
        std::wstring out(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
        out.resize(std::wcslen(out.c_str()));
        return out;
    }

    // The first word, and the rest of the line after one space.
    static std::wstring Split(std::wstring& rest) {
        const std::size_t space = rest.find(L' ');
        std::wstring word = rest.substr(0, space);
        rest = space == std::wstring::npos ? std::wstring() : rest.substr(space + 1);
        return word;
    }

    void Execute(std::wstring rest) {
        const std::wstring command = Split(rest);
        if (command == L"start") {
            const std::wstring className = Split(rest);
            Start(className, rest);
        } else if (command == L"pending") {
            Pending(rest);
        } else if (command == L"children") {
            Children(rest);
        } else if (command == L"move") {
            const int x = std::wcstol(Split(rest).c_str(), nullptr, 10);
            const int y = std::wcstol(rest.c_str(), nullptr, 10);
            SetCursorPos(x, y);
            POINT pt{};
            GetCursorPos(&pt);
            std::printf("moved x=%ld y=%ld\n", pt.x, pt.y);
        } else if (command == L"click") {
            const int x = std::wcstol(Split(rest).c_str(), nullptr, 10);
            const int y = std::wcstol(Split(rest).c_str(), nullptr, 10);
            const DWORD settle = std::wcstoul(rest.c_str(), nullptr, 10);
            Click(x, y, settle);
        } else if (command == L"activate") {
            HWND hwnd = FindTopLevel(rest);
            if (hwnd) SetForegroundWindow(hwnd);
            wchar_t name[256] = L"none";
            if (HWND fg = GetForegroundWindow()) GetClassNameW(fg, name, static_cast<int>(std::size(name)));
            std::printf("foreground class=%ls\n", name);
        } else if (command == L"close") {
            Close(rest);
        } else if (command == L"qpc") {
            LARGE_INTEGER freq;
            QueryPerformanceFrequency(&freq);
            std::printf("qpc now=%lld freq=%lld\n", Now(), freq.QuadPart);
        } else {
            std::printf("error unknown command\n");
        }
    }

    void Start(const std::wstring& className, std::wstring path) {
        if (FindTopLevel(className)) {
            std::printf("error a window of class %ls is already open\n", className.c_str());
            return;
        }
        std::wstring commandLine = L"\"" + path + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        const LONGLONG t0 = Now();
        if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi)) {
            std::printf("error CreateProcess failed: %lu\n", GetLastError());
            return;
        }
        // The program's first wait for input with nothing left in its queue.
        // Waiting on the process's idle event costs nothing, where polling
        // meanwhile would load the wineserver the program needs. The event
        // only says the program once waited with an empty queue, not that its
        // window was shown and painted by then, so the windows decide.
        LONGLONG idle = 0, painted = 0, looked = 0;
        if (WaitForInputIdle(pi.hProcess, kStartTimeoutMs) == 0) idle = Now();
        int looks = 0, dirty = 0;
        const DWORD begun = GetTickCount();
        while (GetTickCount() - begun < kStartTimeoutMs) {
            const LONGLONG lookBegun = Now();
            ++looks;
            HWND top = FindTopLevel(className, pi.dwProcessId);
            PaintState state = KeysPainted(top);
            LONGLONG answered = 0;
            if (state == PaintState::Complete) {
                DWORD_PTR ignored = 0;
                SendMessageTimeoutW(top, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
                answered = Now();
                state = KeysPainted(top);
            }
            if (state == PaintState::Complete) {
                painted = answered;
                looked = Now() - lookBegun;
                break;
            }
            if (state == PaintState::Dirty) ++dirty;
            if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) break;
        }
        if (!painted) {
            std::printf("error no complete paint of class %ls within %lu ms\n", className.c_str(),
                        kStartTimeoutMs);
        } else {
            std::printf("started pid=%lu idle_ms=%.2f painted_ms=%.2f looks=%d dirty=%d look_ms=%.2f\n",
                        pi.dwProcessId, idle ? Milliseconds(idle - t0) : -1.0, Milliseconds(painted - t0), looks,
                        dirty, Milliseconds(looked));
        }
        if (auto old = started_.find(className); old != started_.end()) {
            CloseHandle(old->second.hProcess);
            CloseHandle(old->second.hThread);
        }
        started_[className] = pi;
    }

    // The program's thread is held while we invalidate and look, so that it
    // cannot paint in between: what we see is what Wine shows us.
    void Pending(const std::wstring& className) {
        HWND top = FindTopLevel(className);
        HWND key = nullptr;
        for (HWND child : top ? ChildrenOf(top) : std::vector<HWND>{})
            if (vimbrel::IsKeyControlId(GetDlgCtrlID(child))) key = child;
        const auto started = started_.find(className);
        if (!key || started == started_.end()) {
            std::printf("error no key in a window of class %ls that we started\n", className.c_str());
            return;
        }
        HANDLE thread = started->second.hThread;
        if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
            std::printf("error SuspendThread failed: %lu\n", GetLastError());
            return;
        }
        const bool before = HasUpdateRegion(key);
        InvalidateRect(key, nullptr, FALSE);
        const bool after = HasUpdateRegion(key);
        ResumeThread(thread);
        std::printf("pending before=%d seen=%d\n", before ? 1 : 0, after ? 1 : 0);
    }

    void Children(const std::wstring& className) {
        HWND top = FindTopLevel(className);
        if (!top) {
            std::printf("error no window of class %ls\n", className.c_str());
            return;
        }
        const std::vector<HWND> children = ChildrenOf(top);
        for (HWND child : children) {
            RECT rc{};
            GetWindowRect(child, &rc);
            wchar_t text[256] = {};
            const int length = GetWindowTextW(child, text, static_cast<int>(std::size(text)));
            std::printf("child id=0x%04x rect=%ld,%ld,%ld,%ld visible=%d text=%s\n",
                        static_cast<unsigned>(GetDlgCtrlID(child)), rc.left, rc.top, rc.right, rc.bottom,
                        IsWindowVisible(child) ? 1 : 0, Hex(text, length).c_str());
        }
        RECT rc{};
        GetWindowRect(top, &rc);
        std::printf("children n=%u window=%ld,%ld,%ld,%ld\n", static_cast<unsigned>(children.size()), rc.left,
                    rc.top, rc.right, rc.bottom);
    }

    // Press and release go in one call, as a quick click does; the time is
    // read just before, after the pointer has rested on the key.
    static void Click(int x, int y, DWORD settle) {
        SetCursorPos(x, y);
        Sleep(settle);
        INPUT inputs[2] = {};
        inputs[0].type = INPUT_MOUSE;
        inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        inputs[1].type = INPUT_MOUSE;
        inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        const LONGLONG t = Now();
        const UINT sent = SendInput(2, inputs, sizeof(INPUT));
        std::printf("clicked qpc=%lld sent=%u\n", t, sent);
    }

    void Close(const std::wstring& className) {
        HWND top = FindTopLevel(className);
        HANDLE process = nullptr;
        bool owned = false;
        if (auto it = started_.find(className); it != started_.end()) {
            process = it->second.hProcess;
        } else if (top) {
            DWORD pid = 0;
            GetWindowThreadProcessId(top, &pid);
            process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
            owned = process != nullptr;
        }
        if (top) PostMessageW(top, WM_CLOSE, 0, 0);
        DWORD code = STILL_ACTIVE;
        bool ended = false;
        if (process) {
            ended = WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
            if (!ended) {
                TerminateProcess(process, 255);
                WaitForSingleObject(process, 5000);
            }
            GetExitCodeProcess(process, &code);
        }
        if (auto it = started_.find(className); it != started_.end()) {
            CloseHandle(it->second.hProcess);
            CloseHandle(it->second.hThread);
            started_.erase(it);
        } else if (owned) {
            CloseHandle(process);
        }
        std::printf("closed exit=%lu ended=%d\n", code, ended ? 1 : 0);
    }

    std::map<std::wstring, PROCESS_INFORMATION> started_;
};

}  // namespace

int wmain() {
    // Physical pixels, whatever DPI the display reports.
    SetProcessDPIAware();
    // Plain "\n" line ends for the script that reads us.
    _setmode(_fileno(stdout), _O_BINARY);
    Driver().Run();
    return 0;
}
