// KeyboardWindow: the real Win32 window of the keyboard, its 104 key buttons,
// lights and labels. It is the core's platform and forwards events to it.
#pragma once

#include <windows.h>

#include <array>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "layout/key_table.h"
#include "layout/labels.h"
#include "platform/platform.h"
#include "platform/win32/accessible.h"
#include "platform/win32/gdi.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

class KeyboardWindow final : public Platform, private AccessibleSource {
    friend class GdiMeasure;

public:
    explicit KeyboardWindow(HINSTANCE instance);
    ~KeyboardWindow() override;
    KeyboardWindow(const KeyboardWindow&) = delete;
    KeyboardWindow& operator=(const KeyboardWindow&) = delete;

    // Creates the window and its controls and runs the start-up sequence.
    bool Create();
    // For a second copy: shows a running keyboard that was minimised again,
    // without activating it. Touches nothing else of it.
    static void RestoreRunningCopy();
    HWND hwnd() const { return hwnd_; }
    // Shows the tooltips the mouse messages of the window and its keys.
    void RelayToTooltip(const MSG& msg) const;

    // Platform (platform/win32/win32_platform.cpp).
    void KeyDown(std::uint8_t vk) override;
    void KeyUp(std::uint8_t vk) override;
    void RedrawKey(KeyRef key, KeyChange what) override;
    void RedrawLight(Light light) override;
    void Focus(KeyRef key) override;
    void Show() override;
    void StayOnTop() override;
    void NeverActivate() override;
    ScreenMetrics Metrics() const override;
    void SetLeft(float twips) override;
    void SetTop(float twips) override;
    void BeginMove() override;
    void Minimise() override;
    int ShowPopupMenu() override;
    void ShowMessage(std::u16string_view title, std::u16string_view text) override;
    void OpenAddress(std::u16string_view address) override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnCommand(int id, int code, HWND control);
    LRESULT OnDrawItem(const DRAWITEMSTRUCT& item);
    LRESULT OnCtlColorStatic(HDC dc, HWND label);
    LRESULT OnSetCursor(HWND under, int hitTest);
    LRESULT OnPaint();
    LRESULT OnNcLButtonDown(WPARAM wp, LPARAM lp);
    LRESULT OnDpiChanged(int dpi, const RECT& suggested);

    void CreateControls();
    void CreateTooltips();
    void CreateFont();
    UniqueGdiObject MakeFont(int pixelHeight) const;
    HFONT FontOfSize(int px);
    void DrawCaption(HDC dc, const RECT& face, const CaptionFit& fit);
    void LayOut();
    HCURSOR FingerCursor(Finger finger);
    int PointerSize() const;
    void RepressDroppedModifiers(std::uint8_t sending);
    void NoteModifier(std::uint8_t vk, bool down);
    void SendKey(std::uint8_t vk, bool down);  // keybd_event, remembered as our own
    LRESULT OnRawInput(HRAWINPUT input);
    int RowOf(KeyRef key) const;  // row in kKeys, or -1
    int RowOf(HWND control) const;
    int LabelIndex(HWND control) const;  // row in kLabels, or -1
    // AccessibleSource: a held key is pressed, a lit light checked and "亮".
    long ExtraState(HWND control) const override;
    std::u16string_view Value(HWND control) const override;
    int WindowDpi() const;

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    UniqueWindow tooltip_;  // destroyed before the window that owns it
    int dpi_ = 96;
    ScreenKeyboard keyboard_{*this};
    std::array<HWND, kKeys.size()> keyWindows_{};
    std::array<HWND, kLabels.size()> labelWindows_{};
    BrushCache brushes_;
    OffscreenBuffer faceBuffer_;
    UniqueGdiObject font_;
    int fontHeight_ = 0;  // pixels, of font_
    // Smaller fonts for two-line captions that do not fit the face in font_, by pixel height.
    std::vector<std::pair<int, UniqueGdiObject>> captionFonts_;
    UniqueMenu menu_;
    std::array<HCURSOR, kFingerCount> fingerCursors_{};
    std::array<UniqueIcon, kFingerCount> ownedCursors_;
    std::vector<UniqueIcon> retiredCursors_;  // of an earlier DPI: one may still be shown
    HCURSOR moveCursor_ = nullptr;
    bool unloaded_ = false;
    bool keepPlace_ = false;  // painting after a DPI change, at the place the system chose
    // Our own key events, oldest first, to tell them from the physical keyboard's
    // in raw input: (key code as raw input gives it, down, tick sent).
    struct Sent {
        USHORT vk;
        bool down;
        ULONGLONG at;
    };
    std::deque<Sent> echoes_;

    // What the keyboard itself did to each modifier group (Shift, Ctrl, Alt,
    // each Windows key): which hands it holds down, whether its last event for
    // the group was a release, and when it last pressed one.
    struct ModifierLatch {
        bool held[2] = {false, false};
        bool releasedLast = false;
        DWORD pressedAt = 0;
    };
    std::array<ModifierLatch, 5> modifiers_{};
};

}  // namespace vimbrel
