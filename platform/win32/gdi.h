// Owning wrappers for the Windows handles the keyboard window keeps.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace vimbrel {

struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};
struct IconTraits {
    using Handle = HICON;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DestroyIcon(h); }
};
struct MenuTraits {
    using Handle = HMENU;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DestroyMenu(h); }
};
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};

using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueMutex = UniqueHandle<KernelHandleTraits>;

// BeginPaint/EndPaint around one WM_PAINT.
class PaintDc {
public:
    explicit PaintDc(HWND hwnd) : hwnd_(hwnd) { dc_ = BeginPaint(hwnd_, &ps_); }
    ~PaintDc() { EndPaint(hwnd_, &ps_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

// Selects an object into a DC and puts the previous one back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
    ~SelectedObject() { SelectObject(dc_, old_); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// One solid brush per colour, kept for the window's life: only five colours ever appear.
class BrushCache {
public:
    HBRUSH For(COLORREF colour) {
        for (auto& e : entries_)
            if (e.colour == colour) return static_cast<HBRUSH>(e.brush.get());
        entries_[count_ % kSlots] = {colour, UniqueGdiObject(CreateSolidBrush(colour))};
        return static_cast<HBRUSH>(entries_[count_++ % kSlots].brush.get());
    }

private:
    static constexpr int kSlots = 8;
    struct Entry {
        COLORREF colour = CLR_INVALID;
        UniqueGdiObject brush;
    };
    Entry entries_[kSlots];
    int count_ = 0;
};

}  // namespace vimbrel
