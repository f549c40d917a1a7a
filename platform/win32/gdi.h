// Owning wrappers for the Windows handles the keyboard window keeps.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/unique_handle.h"

namespace vimbrel {

// One closer each.
using UniqueGdiObject = UniqueHandle<HGDIOBJ, DeleteObject>;
using UniqueBitmap = UniqueHandle<HBITMAP, DeleteObject>;
using UniqueMemoryDc = UniqueHandle<HDC, DeleteDC>;
using UniqueIcon = UniqueHandle<HICON, DestroyIcon>;
using UniqueMenu = UniqueHandle<HMENU, DestroyMenu>;
using UniqueWindow = UniqueHandle<HWND, DestroyWindow>;
using UniqueMutex = UniqueHandle<HANDLE, CloseHandle>;

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(hwnd_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

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
        if (dc_ && width <= width_ && height <= height_) return dc_.get();
        Release();
        UniqueMemoryDc dc(CreateCompatibleDC(screen));
        UniqueBitmap bitmap(CreateCompatibleBitmap(screen, width, height));
        if (!dc || !bitmap) return nullptr;
        old_ = SelectObject(dc.get(), bitmap.get());
        dc_ = std::move(dc);
        bitmap_ = std::move(bitmap);
        width_ = width;
        height_ = height;
        return dc_.get();
    }

private:
    // The bitmap is let go only once the DC has given it back.
    void Release() {
        if (dc_ && old_) SelectObject(dc_.get(), old_);
        old_ = nullptr;
        bitmap_.reset();
        dc_.reset();
        width_ = height_ = 0;
    }
    UniqueMemoryDc dc_;
    UniqueBitmap bitmap_;
    HGDIOBJ old_ = nullptr;
    int width_ = 0, height_ = 0;
};

}  // namespace vimbrel
