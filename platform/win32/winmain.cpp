// Entry point: the one-copy rule, then the keyboard window and its message loop.
#include <windows.h>

#include "platform/win32/accessible.h"
#include "platform/win32/gdi.h"
#include "platform/win32/keyboard_window.h"

namespace {
// Session-wide, so one keyboard per desktop; the suffix keeps other programs' names clear of ours.
constexpr wchar_t kMutexName[] = L"Local\\Vimbrel.ScreenKeyboard.3f7c9a1e-5b2d-4e8f-a6c0-91d24b7e58f3";
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // A second copy ends here, silently. The one thing it does to the first:
    // a keyboard left minimised is shown again, without taking the focus.
    vimbrel::UniqueMutex mutex(CreateMutexW(nullptr, FALSE, kMutexName));
    if (!mutex) return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        vimbrel::KeyboardWindow::RestoreRunningCopy();
        return 0;
    }

    vimbrel::KeyboardWindow window(instance);
    if (!window.Create()) return 1;

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        window.RelayToTooltip(msg);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    vimbrel::EndAccessibility();
    return static_cast<int>(msg.wParam);
}
