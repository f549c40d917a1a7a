// Commands with which the benchmark starts, times and clicks programs; run
// them in one probe (probe.exe stdin) that lives for the whole benchmark. Times
// are QueryPerformanceCounter ticks, shared by every process of the session.
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
//   end CLASS            WM_CLOSE, wait up to 5 s for the process, else end it
//                        -> end exit=N ended=1
//   move X Y             put the pointer there -> moved x=X y=Y
//   click X Y SETTLE     move there, wait SETTLE ms, then a left press and release
//                        in one SendInput -> clicked qpc=Q (read just before SendInput)
//   activate CLASS       make that window the foreground -> foreground class=...
//   qpc                  -> qpc now=Q freq=F
//
// A command that cannot do its work prints "error <why>" and counts as failed.
#include "probe.h"

#include <cstdarg>
#include <cstdio>
#include <map>

#include "platform/control_ids.h"

namespace probe {
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


// The programs this probe started, by the class of their window.
std::map<std::wstring, PROCESS_INFORMATION> started_;

const PROCESS_INFORMATION* Started(const std::wstring& className) {
    const auto it = started_.find(className);
    return it == started_.end() ? nullptr : &it->second;
}

void Forget(const std::wstring& className) {
    if (auto it = started_.find(className); it != started_.end()) {
        CloseHandle(it->second.hProcess);
        CloseHandle(it->second.hThread);
        started_.erase(it);
    }
}

__attribute__((format(printf, 1, 2))) Result Error(const char* format, ...) {
    std::printf("error ");
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    return Result::Missing;
}

Result Start(Args& args) {
    std::wstring className, path;
    if (!args.Word(className) || !args.Word(path)) return Result::Usage;
    if (FindWindowW(className.c_str(), nullptr))
        return Error("a window of class %ls is already open", className.c_str());
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const LONGLONG t0 = Now();
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return Error("CreateProcess %ls failed: %lu", path.c_str(), GetLastError());
    Forget(className);
    started_[className] = pi;
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
        const std::vector<HWND> tops = TopLevelWindows(className, pi.dwProcessId);
        HWND top = tops.empty() ? nullptr : tops.front();
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
    if (!painted)
        return Error("no complete paint of class %ls within %lu ms", className.c_str(),
                     static_cast<unsigned long>(kStartTimeoutMs));
    std::printf("started pid=%lu idle_ms=%.2f painted_ms=%.2f looks=%d dirty=%d look_ms=%.2f\n", pi.dwProcessId,
                idle ? Milliseconds(idle - t0) : -1.0, Milliseconds(painted - t0), looks, dirty,
                Milliseconds(looked));
    return Result::Ok;
}

// The program's thread is held while we invalidate and look, so that it
// cannot paint in between: what we see is what Wine shows us.
Result Pending(Args& args) {
    std::wstring className;
    HWND top = nullptr;
    if (!args.Window(className, top)) return Result::Usage;
    HWND key = nullptr;
    for (HWND child : top ? ChildrenOf(top) : std::vector<HWND>{})
        if (vimbrel::IsKeyControlId(GetDlgCtrlID(child))) key = child;
    const PROCESS_INFORMATION* started = Started(className);
    if (!key || !started) return Error("no key in a window of class %ls that we started", className.c_str());
    HANDLE thread = started->hThread;
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) return Error("SuspendThread failed: %lu", GetLastError());
    const bool before = HasUpdateRegion(key);
    InvalidateRect(key, nullptr, FALSE);
    const bool after = HasUpdateRegion(key);
    ResumeThread(thread);
    std::printf("pending before=%d seen=%d\n", before ? 1 : 0, after ? 1 : 0);
    return Result::Ok;
}

Result End(Args& args) {
    std::wstring className;
    HWND top = nullptr;
    if (!args.Window(className, top)) return Result::Usage;
    // A program we did not start is waited for by a handle of our own.
    const PROCESS_INFORMATION* started = Started(className);
    HANDLE process = started ? started->hProcess
                     : top   ? OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                                           FALSE, ProcessOf(top))
                             : nullptr;
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
        if (!started) CloseHandle(process);
    }
    Forget(className);
    std::printf("end exit=%lu ended=%d\n", static_cast<unsigned long>(code), ended ? 1 : 0);
    return top || process ? Result::Ok : Result::Missing;
}

Result Move(Args& args) {
    long x = 0, y = 0;
    if (!args.Number(x) || !args.Number(y)) return Result::Usage;
    SetCursorPos(x, y);
    POINT pt{};
    GetCursorPos(&pt);
    std::printf("moved x=%ld y=%ld\n", pt.x, pt.y);
    return Result::Ok;
}

// Press and release go in one call, as a quick click does; the time is
// read just before, after the pointer has rested on the key.
Result Click(Args& args) {
    long x = 0, y = 0, settle = 0;
    if (!args.Number(x) || !args.Number(y) || !args.Number(settle)) return Result::Usage;
    SetCursorPos(x, y);
    Sleep(static_cast<DWORD>(settle));
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    const LONGLONG t = Now();
    const UINT sent = SendInput(2, inputs, sizeof(INPUT));
    std::printf("clicked qpc=%lld sent=%u\n", t, sent);
    return sent == 2 ? Result::Ok : Result::Missing;
}

Result Activate(Args& args) {
    std::wstring className;
    HWND hwnd = nullptr;
    if (!args.Window(className, hwnd)) return Result::Usage;
    if (hwnd) SetForegroundWindow(hwnd);
    HWND foreground = GetForegroundWindow();
    std::printf("foreground class=%s\n", foreground ? ClassOf(foreground).c_str() : "none");
    return Result::Ok;
}

Result Qpc(Args&) {
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    std::printf("qpc now=%lld freq=%lld\n", Now(), freq.QuadPart);
    return Result::Ok;
}

constexpr Command kCommands[] = {
    {L"start", Start}, {L"pending", Pending},   {L"end", End}, {L"move", Move},
    {L"click", Click}, {L"activate", Activate}, {L"qpc", Qpc},
};

}  // namespace

std::span<const Command> BenchCommands() { return kCommands; }

}  // namespace probe
