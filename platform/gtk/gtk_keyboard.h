// GtkKeyboard: the keyboard window through GTK 3, its 104 key buttons,
// lights and labels. It is the core's platform and forwards events to it.
// On X11 it is an ordinary window sending keys through XTest (or, through
// XWayland, through the desktop's RemoteDesktop portal); on Wayland a
// layer surface (layer_window.h) sending them through the compositor's
// virtual keyboard (wayland_keys.h).
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <optional>
#include <string>

#include "layout/key_table.h"
#include "layout/labels.h"
#include "layout/twips.h"
#include "platform/gtk/key_sender.h"
#include "platform/gtk/layer_window.h"
#include "platform/gtk/x_keys.h"
#include "platform/platform.h"
#include "window/screen_keyboard.h"

namespace vimbrel {

class GtkKeyboard final : public Platform {
public:
    GtkKeyboard();  // on X11
    // On X11 through XWayland, the keys going to keys (the desktop's
    // remote-input portal); the keyboard keeps its own lock state.
    explicit GtkKeyboard(KeySender& keys);
    // On Wayland: the window takes the role of a layer surface, the keys go to keys.
    GtkKeyboard(KeySender& keys, LayerWindow& layer);
    ~GtkKeyboard() override;
    GtkKeyboard(const GtkKeyboard&) = delete;
    GtkKeyboard& operator=(const GtkKeyboard&) = delete;

    // Creates the window and its controls and runs the start-up sequence.
    void Create();
    // Every way out: releases whatever the keyboard holds down and gives the
    // borrowed keycodes back. Runs once; later calls do nothing.
    void Unload();
    // Another start on this display asked for the keyboard: an iconified one
    // comes back, without taking the focus.
    void ComeBack();
    // The keys given at construction can no longer be sent: from now on they
    // go through XTest, with the lock state X's, as on any X11 display.
    void FallBackToXTest();
    // XKeys::OnLayout on this display: what a sender of keysyms sends.
    unsigned OnLayout(std::uint8_t vk, unsigned keysym) { return xKeys_ ? xKeys_->OnLayout(vk, keysym) : keysym; }

    // Platform.
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
    // What a key's or label's signal handlers are given: the window and the row.
    struct Slot {
        GtkKeyboard* keyboard;
        int row;
    };

    static gboolean OnKeyDraw(GtkWidget* widget, cairo_t* cr, Slot* slot);
    static gboolean OnKeyPress(GtkWidget* widget, GdkEventButton* event, Slot* slot);
    static gboolean OnKeyEnter(GtkWidget* widget, GdkEventCrossing* event, Slot* slot);
    static void OnKeyClicked(GtkWidget* widget, Slot* slot);
    static gboolean OnLabelDraw(GtkWidget* widget, cairo_t* cr, Slot* slot);
    static gboolean OnWindowDraw(GtkWidget* widget, cairo_t* cr, GtkKeyboard* self);
    static gboolean OnWindowPress(GtkWidget* widget, GdkEventButton* event, GtkKeyboard* self);
    static gboolean OnWindowMotion(GtkWidget* widget, GdkEventMotion* event, GtkKeyboard* self);
    static gboolean OnWindowState(GtkWidget* widget, GdkEventWindowState* event, GtkKeyboard* self);
    static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, GtkKeyboard* self);
    static GdkFilterReturn HearKeyboardEvents(GdkXEvent* xevent, GdkEvent* event, gpointer self);

    void CreateControls();
    void FollowX();
    void MoveFocusTo(int row);
    bool OverControl(double x, double y) const;  // a key or a label covers this client point
    bool BackgroundIn(cairo_t* cr) const;        // the draw shows background of the window's own
    GdkRectangle Frame() const;
    void MoveFrame(int x, int y);
    GdkCursor* FingerCursor(Finger finger);
    void RestoreFocus(Window focus, Window active) const;
    void RunMessage(std::u16string_view title, std::u16string_view text);

    ScreenKeyboard keyboard_{*this};
    int dpi_ = 96;
    int em_ = 12;
    PangoFontDescription* font_ = nullptr;
    GtkWidget* window_ = nullptr;
    std::array<Slot, kKeys.size()> keySlots_{};
    std::array<GtkWidget*, kKeys.size()> keyWidgets_{};
    std::array<PixelRect, kKeys.size()> keyRects_{};
    std::array<std::string, kKeys.size()> tooltips_;
    std::array<Slot, kLabels.size()> labelSlots_{};
    std::array<GtkWidget*, kLabels.size()> labelWidgets_{};
    std::array<PixelRect, kLabels.size()> labelRects_{};
    std::array<std::string, kLabels.size()> labelNames_;
    std::array<GdkCursor*, kFingerCount> fingerCursors_{};
    std::array<bool, kKeys.size()> cursorSet_{};
    std::optional<XKeys> xKeys_;  // on X11
    KeySender* keys_;
    LayerWindow* layer_ = nullptr;  // on Wayland
    int focusedRow_ = -1;   // the key holding the focus within the window
    int clickingRow_ = -1;  // the key whose click is being handled
    GdkEventButton* press_ = nullptr;  // the background press being handled
    guint32 eventTime_ = GDK_CURRENT_TIME;  // of the last press or menu choice
    GtkWidget* menu_ = nullptr;
    int menuChoice_ = -1;
    std::optional<int> left_;  // the frame's left edge last asked for
    std::optional<GdkPoint> moveFrom_;  // a left press on the background, until it moves or ends
    bool iconified_ = false;
    bool unloaded_ = false;
};

}  // namespace vimbrel
