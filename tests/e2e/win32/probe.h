// What the probe's commands share: how they read their arguments, find the
// keyboard's windows and print what they find. See probe.cpp for the commands.
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <vector>

namespace probe {

inline constexpr wchar_t kKeyboardClass[] = L"ScreenKeyboard";
inline constexpr wchar_t kMenuClass[] = L"#32768";  // pop-up menu windows

// What a command made of its request: done, done but something asked for was
// not there (or a call failed), or not understood (a usage error).
enum class Result { Ok, Missing, Usage };

// The words after a command's name; each command takes what it needs.
class Args {
public:
    Args(const std::vector<std::wstring>& words, std::size_t next) : words_(words), next_(next) {}
    bool Word(std::wstring& out);
    bool Number(long& out);  // decimal, or hex with 0x
    // A window class, and the first top-level window of it (nullptr: none).
    bool Window(std::wstring& className, HWND& first);
    bool Empty() const { return next_ >= words_.size(); }
    std::size_t next() const { return next_; }

private:
    const std::vector<std::wstring>& words_;
    std::size_t next_;
};

struct Command {
    const wchar_t* name;
    Result (*run)(Args&);
};

// The groups of commands, each in its own file.
std::span<const Command> WindowCommands();  // probe.cpp
std::span<const Command> InsideCommands();  // probe_inside.cpp
std::span<const Command> AccCommands();     // probe_acc.cpp
std::span<const Command> BenchCommands();   // probe_bench.cpp

// Texts are printed as UTF-16 code units in hex ("0041000A2190"), so the
// driver compares exactly what a window holds; rectangles as "l,t,r,b".
std::string Hex(const wchar_t* text, std::size_t length);
std::wstring FromHex(const std::wstring& hex);
std::string Narrow(const wchar_t* text);
std::string TextOf(HWND hwnd);
std::string ClassOf(HWND hwnd);
std::string RectText(const RECT& rc);
unsigned long HandleValue(const void* handle);

HWND Keyboard();
DWORD ProcessOf(HWND hwnd);
// Every top-level window of the class in z-order, of one process (pid 0: any).
std::vector<HWND> TopLevelWindows(const std::wstring& className, DWORD pid = 0);
// The direct children of a window, in z-order.
std::vector<HWND> ChildrenOf(HWND parent);

// "<name> class=... hwnd=... pid=... owner=... window=l,t,r,b client=l,t,r,b
// style=... exstyle=... visible=1 title=<hex>", or "<name> class=... none".
void PrintWindow(const char* name, const std::wstring& className, HWND hwnd);
// "child id=0x1041 class=... window=l,t,r,b visible=1 text=<hex>"
void PrintChild(HWND child);
// "<command> failed=<what> error=<GetLastError()>", and Missing.
Result Failed(const char* command, const char* what);

}  // namespace probe
