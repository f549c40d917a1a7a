// Measuring hooks of the instrumented build (vimbrel_instrumented.exe, built
// with VIMBREL_INSTRUMENT): when each key is painted and how long each command
// takes, for the benchmark in bench/. In the product every macro is empty.
//
//   VIMBREL_COUNT_PAINT(hwnd)      one paint of the key button hwnd
//   VIMBREL_TIME_COMMAND(id, code) the rest of the enclosing block, timed as one command
//
// The instrumented build writes vimbrel_instrument.log beside its exe, created
// afresh at start, one line per event, times as QueryPerformanceCounter ticks:
//   start freq=10000000 qpc=123
//   paint id=0x1041 qpc=456
//   command id=0x17a0 code=0 begin=789 end=812
#pragma once

#ifdef VIMBREL_INSTRUMENT

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vimbrel::instrument {

// Events are kept in memory under a lock and written by a thread of their own
// every few milliseconds, so the measured code pays for a counter read and a
// copy, not for a file write.
class Recorder {
public:
    static Recorder& Get() {
        static Recorder recorder;
        return recorder;
    }

    void Paint(HWND button) { Add({Kind::Paint, GetDlgCtrlID(button), 0, Now(), 0}); }
    void Command(int id, int code, LONGLONG begin, LONGLONG end) { Add({Kind::Command, id, code, begin, end}); }

    static LONGLONG Now() {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return t.QuadPart;
    }

    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

private:
    enum class Kind { Paint, Command };
    struct Event {
        Kind kind;
        int id, code;
        LONGLONG begin, end;
    };
    static constexpr int kCapacity = 8192;

    Recorder() : events_(kCapacity), writing_(kCapacity) {
        InitializeCriticalSection(&lock_);
        wchar_t path[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring file(path, n);
        file.erase(file.find_last_of(L'\\') + 1);
        file += L"vimbrel_instrument.log";
        out_ = _wfopen(file.c_str(), L"wb");
        LARGE_INTEGER freq;
        QueryPerformanceFrequency(&freq);
        if (out_) {
            std::fprintf(out_, "start freq=%lld qpc=%lld\n", freq.QuadPart, Now());
            std::fflush(out_);
        }
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writer_ = CreateThread(nullptr, 0, Writer, this, 0, nullptr);
    }

    // Runs at exit, while the writer still runs: it writes what is left and ends.
    ~Recorder() {
        SetEvent(stop_);
        if (writer_) WaitForSingleObject(writer_, 2000);
        if (out_) std::fclose(out_);
    }

    void Add(const Event& event) {
        EnterCriticalSection(&lock_);
        if (pending_ < kCapacity)
            events_[pending_++] = event;
        else
            ++dropped_;
        LeaveCriticalSection(&lock_);
    }

    static DWORD WINAPI Writer(void* self) {
        auto& recorder = *static_cast<Recorder*>(self);
        while (WaitForSingleObject(recorder.stop_, 10) == WAIT_TIMEOUT) recorder.Flush();
        recorder.Flush();
        return 0;
    }

    void Flush() {
        EnterCriticalSection(&lock_);
        const int count = pending_;
        const long dropped = dropped_;
        for (int i = 0; i < count; ++i) writing_[i] = events_[i];
        pending_ = 0;
        dropped_ = 0;
        LeaveCriticalSection(&lock_);
        if (!out_ || (count == 0 && dropped == 0)) return;
        for (int i = 0; i < count; ++i) {
            const Event& e = writing_[i];
            if (e.kind == Kind::Paint)
                std::fprintf(out_, "paint id=0x%04x qpc=%lld\n", static_cast<unsigned>(e.id), e.begin);
            else
                std::fprintf(out_, "command id=0x%04x code=%d begin=%lld end=%lld\n", static_cast<unsigned>(e.id),
                             e.code, e.begin, e.end);
        }
        if (dropped) std::fprintf(out_, "dropped n=%ld\n", dropped);
        std::fflush(out_);
    }

    CRITICAL_SECTION lock_;
    std::vector<Event> events_, writing_;  // allocated once: recording never allocates
    int pending_ = 0;
    long dropped_ = 0;
    FILE* out_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE writer_ = nullptr;
};

// Times from its construction to the end of the enclosing block, whichever return ends it.
class CommandTimer {
public:
    CommandTimer(int id, int code) : id_(id), code_(code), begin_(Recorder::Now()) {}
    ~CommandTimer() { Recorder::Get().Command(id_, code_, begin_, Recorder::Now()); }
    CommandTimer(const CommandTimer&) = delete;
    CommandTimer& operator=(const CommandTimer&) = delete;

private:
    int id_, code_;
    LONGLONG begin_;
};

}  // namespace vimbrel::instrument

#define VIMBREL_COUNT_PAINT(hwnd) ::vimbrel::instrument::Recorder::Get().Paint(hwnd)
#define VIMBREL_TIME_COMMAND(id, code) ::vimbrel::instrument::CommandTimer vimbrelCommandTimer_((id), (code))

#else

#define VIMBREL_COUNT_PAINT(hwnd) ((void)0)
#define VIMBREL_TIME_COMMAND(id, code) ((void)0)

#endif
