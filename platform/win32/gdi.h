// Owning wrappers for the Windows handles the keyboard window keeps.
#pragma once

#include <windows.h>

#include <vector>

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

// One solid brush per colour, kept until the window is gone: a brush handed to
// the system (a label's background from WM_CTLCOLORSTATIC) may be used by it at
// any later paint, so none is ever replaced. Only a handful of colours appear.
class BrushCache {
public:
    HBRUSH For(COLORREF colour) {
        for (auto& e : entries_)
            if (e.colour == colour) return static_cast<HBRUSH>(e.brush.get());
        entries_.push_back({colour, UniqueGdiObject(CreateSolidBrush(colour))});
        return static_cast<HBRUSH>(entries_.back().brush.get());
    }

private:
    struct Entry {
        COLORREF colour;
        UniqueGdiObject brush;
    };
    std::vector<Entry> entries_;
};

// One off-screen surface for drawing a control before it is copied to the
// screen, kept and grown as needed rather than made for every paint.
class OffscreenBuffer {
public:
    OffscreenBuffer() = default;
    OffscreenBuffer(const OffscreenBuffer&) = delete;
    OffscreenBuffer& operator=(const OffscreenBuffer&) = delete;
    ~OffscreenBuffer() { Release(); }

    // A memory DC of at least width x height compatible with `screen`, or nullptr.
    HDC Get(HDC screen, int width, int height) {
        if (dc_ && width <= width_ && height <= height_) return dc_;
        Release();
        dc_ = CreateCompatibleDC(screen);
        bitmap_ = CreateCompatibleBitmap(screen, width, height);
        if (!dc_ || !bitmap_) {
            Release();
            return nullptr;
        }
        old_ = SelectObject(dc_, bitmap_);
        width_ = width;
        height_ = height;
        return dc_;
    }

private:
    void Release() {
        if (dc_ && old_) SelectObject(dc_, old_);
        if (bitmap_) DeleteObject(bitmap_);
        if (dc_) DeleteDC(dc_);
        dc_ = nullptr;
        bitmap_ = nullptr;
        old_ = nullptr;
        width_ = height_ = 0;
    }
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    int width_ = 0, height_ = 0;
};

}  // namespace vimbrel
