// The keyboard window: its controls, drawing and events, and the core's
// platform operations, each in a few lines of GTK or Xlib.
#include "platform/gtk/gtk_keyboard.h"

#include <X11/Xatom.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "assets/finger_hot_spots.h"
#include "layout/accessible_names.h"
#include "layout/physical_keys.h"
#include "platform/gtk/accessible.h"
#include "platform/gtk/embedded_icons.h"
#include "platform/gtk/painter.h"
#include "window/controls.h"
#include "window/messages.h"

namespace vimbrel {

namespace {

// The buttons are drawn here, not by the theme: no padding, border or
// minimum size of the theme's may change their places and sizes, and none of
// its transitions may redraw them frame after frame when their state changes.
constexpr char kCss[] =
    "window.vimbrel { background-color: #C0C0C0; }\n"
    "window.vimbrel, window.vimbrel * { transition: none; animation: none; }\n"
    "button.vimbrel-key { padding: 0; margin: 0; border-width: 0; min-width: 0; min-height: 0;"
    " box-shadow: none; outline-width: 0; }\n";

// Xft.dpi from the X resources, as GTK and every Xft program read it; 96 if unset.
int ResourceDpi(Display* display) {
    const char* resources = XResourceManagerString(display);
    if (!resources) return 96;
    for (const char* line = resources; line && *line;) {
        if (std::strncmp(line, "Xft.dpi:", 8) == 0) {
            const double dpi = g_ascii_strtod(line + 8, nullptr);
            if (dpi >= 24 && dpi <= 960) return static_cast<int>(dpi + 0.5);
        }
        line = std::strchr(line, '\n');
        if (line) ++line;
    }
    return 96;
}

GdkPixbuf* LoadIcon(const EmbeddedFile& file) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("ico", nullptr);
    if (!loader) return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, file.data, file.size, nullptr) && gdk_pixbuf_loader_close(loader, nullptr)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf) g_object_ref(pixbuf);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return pixbuf;
}

int GdkButtonToWindows(guint button) {
    switch (button) {
    case 1:  return 1;  // left
    case 3:  return 2;  // right
    case 2:  return 4;  // middle
    default: return 0;
    }
}

Window RootWindowProperty(Display* display, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window value = None;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, name, False), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data && format == 32 && count == 1)
        value = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return value;
}

Display* XDisplay() { return gdk_x11_get_default_xdisplay(); }

// On Wayland there are no X resources: GTK's own setting (from the desktop's
// settings), 96 if unset.
int SettingsDpi() {
    gint xftDpi = -1;  // in 1024ths
    g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &xftDpi, nullptr);
    const int dpi = xftDpi > 0 ? (xftDpi + 512) / 1024 : 96;
    return dpi >= 24 && dpi <= 960 ? dpi : 96;
}

}  // namespace

GtkKeyboard::GtkKeyboard() : xKeys_(std::in_place, XDisplay()), keys_(&*xKeys_) {}

GtkKeyboard::GtkKeyboard(KeySender& keys) : xKeys_(std::in_place, XDisplay()), keys_(&keys) {}

GtkKeyboard::GtkKeyboard(KeySender& keys, LayerWindow& layer) : keys_(&keys), layer_(&layer) {}

GtkKeyboard::~GtkKeyboard() {
    Unload();
    if (xKeys_) gdk_window_remove_filter(nullptr, HearKeyboardEvents, this);
    if (menu_) gtk_widget_destroy(menu_);
    if (window_) gtk_widget_destroy(window_);
    for (GdkCursor* c : fingerCursors_)
        if (c) g_object_unref(c);
    if (font_) pango_font_description_free(font_);
}

void GtkKeyboard::Create() {
    dpi_ = layer_ ? SettingsDpi() : ResourceDpi(XDisplay());
    em_ = FontPixels(dpi_);
    font_ = CaptionFont(dpi_);

    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* w = GTK_WINDOW(window_);
    gtk_style_context_add_class(gtk_widget_get_style_context(window_), "vimbrel");
    gtk_window_set_title(w, Utf8(kWindowTitle).c_str());
    gtk_window_set_resizable(w, FALSE);
    // The application being typed into keeps the focus: the window never takes
    // it, not when it appears and not when it is clicked.
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_accept_focus(w, FALSE);
    gtk_window_set_focus_on_map(w, FALSE);
    gtk_window_set_keep_above(w, TRUE);
    if (layer_) layer_->Attach(w);
    if (GdkPixbuf* icon = LoadIcon(kApplicationIcon)) {
        gtk_window_set_icon(w, icon);
        g_object_unref(icon);
    }
    gtk_window_move(w, TwipsToPixels(kDesignClientLeft, dpi_), TwipsToPixels(kDesignClientTop, dpi_));
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
    g_signal_connect(window_, "draw", G_CALLBACK(OnWindowDraw), this);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(OnWindowPress), this);
    g_signal_connect(window_, "motion-notify-event", G_CALLBACK(OnWindowMotion), this);
    g_signal_connect(window_, "button-release-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton*, GtkKeyboard* self) {
                         self->moveFrom_.reset();
                         if (self->layer_) self->layer_->EndDrag();
                         return FALSE;
                     }),
                     this);
    g_signal_connect(window_, "window-state-event", G_CALLBACK(OnWindowState), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(window_, "realize", G_CALLBACK(+[](GtkWidget* widget, gpointer) {
                         GdkCursor* move = gdk_cursor_new_from_name(gtk_widget_get_display(widget), "fleur");
                         GdkWindow* gw = gtk_widget_get_window(widget);
                         // Moved, minimised and closed, never maximised: the window manager shows no
                         // maximise button, as the Windows build has none.
                         gdk_window_set_functions(gw, GdkWMFunction(GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE |
                                                                    GDK_FUNC_CLOSE));
                         gdk_window_set_cursor(gw, move);
                         if (move) g_object_unref(move);
                     }),
                     nullptr);
    // X's keyboard events keep the key map and group the keys are looked up in current.
    if (xKeys_) gdk_window_add_filter(nullptr, HearKeyboardEvents, this);

    CreateControls();
    keyboard_.Form_Load();
    if (xKeys_ && keys_ == &*xKeys_) FollowX();
}

// The lock state is the X server's, and so is every change to it, whoever
// makes it; keys held on the physical keyboard show on their keys. Not where
// the keys go through the portal: there X's locks are not the ones typed with.
void GtkKeyboard::FollowX() {
    const LockState locks = xKeys_->Locks();
    keyboard_.SystemLocks(locks.capsLock, locks.numLock, locks.scrollLock);
    xKeys_->WatchPhysicalKeys(gdk_x11_get_default_root_xwindow());
}

void GtkKeyboard::FallBackToXTest() {
    if (!xKeys_ || keys_ == &*xKeys_ || unloaded_) return;
    keys_ = &*xKeys_;
    FollowX();
}

// Every event of the display passes here: X's keyboard notifications keep the
// key map, the group and the locks current, and raw key events show the
// physical keyboard.
GdkFilterReturn GtkKeyboard::HearKeyboardEvents(GdkXEvent* xevent, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkKeyboard*>(data);
    const XEvent& event = *static_cast<XEvent*>(xevent);
    XKeys& keys = *self->xKeys_;
    if (self->keys_ != &keys) {
        keys.Hear(event);  // the layout that the portal's keysyms are looked up in
        return GDK_FILTER_CONTINUE;
    }
    if (keys.Hear(event)) {
        const LockState locks = keys.Locks();
        self->keyboard_.SystemLocks(locks.capsLock, locks.numLock, locks.scrollLock);
    } else if (const std::optional<RawKey> raw = keys.PhysicalKey(event)) {
        // An X keycode is the input event code plus 8.
        if (const std::optional<KeyRef> key = KeyAtEvdev(raw->keycode - 8)) self->keyboard_.PhysicalKey(*key, raw->down);
    }
    return GDK_FILTER_CONTINUE;
}

void GtkKeyboard::CreateControls() {
    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window_), fixed);
    for (std::size_t row = 0; row < kKeys.size(); ++row) {
        const KeyDef& k = kKeys[row];
        const PixelRect r = ToPixels(k.left, k.top, k.width, k.height, dpi_);
        keyRects_[row] = r;
        keySlots_[row] = {this, static_cast<int>(row)};
        GtkWidget* key = GTK_WIDGET(g_object_new(KeyButtonType(), nullptr));
        keyWidgets_[row] = key;
        gtk_style_context_add_class(gtk_widget_get_style_context(key), "vimbrel-key");
        gtk_widget_set_can_focus(key, FALSE);
        gtk_widget_set_size_request(key, r.right - r.left, r.bottom - r.top);
        tooltips_[row] = Utf8(k.tooltip);
        gtk_widget_set_tooltip_text(key, tooltips_[row].c_str());
        const KeyRole role = ControlInfo(k.key.control).role;
        DescribeAccessible(key, tooltips_[row].c_str(),
                           role == KeyRole::ToggleButton ? ATK_ROLE_TOGGLE_BUTTON : ATK_ROLE_PUSH_BUTTON);
        SetAccessibleOn(key, KeyHeld(k.key.control, keyboard_.States().Key(row).colour), nullptr, false);
        Slot* slot = &keySlots_[row];
        g_signal_connect(key, "draw", G_CALLBACK(OnKeyDraw), slot);
        g_signal_connect(key, "button-press-event", G_CALLBACK(OnKeyPress), slot);
        g_signal_connect(key, "enter-notify-event", G_CALLBACK(OnKeyEnter), slot);
        g_signal_connect(key, "clicked", G_CALLBACK(OnKeyClicked), slot);
        // Pressed and let go: the edge sinks and rises.
        g_signal_connect(key, "state-flags-changed",
                         G_CALLBACK(+[](GtkWidget* widget, GtkStateFlags) { gtk_widget_queue_draw(widget); }),
                         nullptr);
        gtk_fixed_put(GTK_FIXED(fixed), key, r.left, r.top);
    }
    for (std::size_t i = 0; i < kLabels.size(); ++i) {
        const LabelDef& l = kLabels[i];
        const PixelRect r = ToPixels(l.left, l.top, l.width, l.height, dpi_);
        labelRects_[i] = r;
        labelSlots_[i] = {this, static_cast<int>(i)};
        GtkWidget* label = GTK_WIDGET(g_object_new(LightType(), nullptr));
        labelWidgets_[i] = label;
        gtk_widget_set_size_request(label, r.right - r.left, r.bottom - r.top);
        if (l.isLight) {
            labelNames_[i] = Utf8(LightAccessibleName(l.light));
            DescribeAccessible(label, labelNames_[i].c_str(), ATK_ROLE_CHECK_BOX);
            const bool lit = LightLit(keyboard_.States().LightColour(l.light));
            SetAccessibleOn(label, lit, lit ? "亮" : "灭", false);
        } else {
            labelNames_[i] = Utf8(l.caption);
            DescribeAccessible(label, labelNames_[i].c_str(), ATK_ROLE_LABEL);
        }
        g_signal_connect(label, "draw", G_CALLBACK(OnLabelDraw), &labelSlots_[i]);
        gtk_fixed_put(GTK_FIXED(fixed), label, r.left, r.top);
    }
}

// --- events ------------------------------------------------------------------

gboolean GtkKeyboard::OnKeyDraw(GtkWidget* widget, cairo_t* cr, Slot* slot) {
    GtkKeyboard& self = *slot->keyboard;
    const auto row = static_cast<std::size_t>(slot->row);
    const bool sunken = (gtk_widget_get_state_flags(widget) & GTK_STATE_FLAG_ACTIVE) != 0;
    const int width = gtk_widget_get_allocated_width(widget), height = gtk_widget_get_allocated_height(widget);
    PangoMeasure measure(cr, self.font_);
    const ControlStates& states = self.keyboard_.States();
    const CaptionFit& fit = states.Fit(row, {width - 2 * kKeyEdge, height - 2 * kKeyEdge, self.em_}, measure);
    const int ring = states.Key(row).held ? std::max(1, TwipsToPixels(kHeldRingTwips, self.dpi_)) : 0;
    PaintKey(cr, width, height, states.Key(row).colour, sunken, fit, measure, ring);
    return TRUE;
}

// The focus within the window moves on the press, as a Windows button takes
// it: the key that held it loses it first. The window itself never has the
// X focus, so the keyboard keeps its own account of which key holds it.
gboolean GtkKeyboard::OnKeyPress(GtkWidget*, GdkEventButton* event, Slot* slot) {
    if (event->type != GDK_BUTTON_PRESS) return FALSE;
    if (event->button != 1) return TRUE;  // other buttons do nothing on a key, nor on the background behind it
    slot->keyboard->eventTime_ = event->time;
    slot->keyboard->MoveFocusTo(slot->row);
    return FALSE;
}

// Each key's pointer is set the first time the pointer comes over it.
gboolean GtkKeyboard::OnKeyEnter(GtkWidget* widget, GdkEventCrossing*, Slot* slot) {
    GtkKeyboard& self = *slot->keyboard;
    const auto row = static_cast<std::size_t>(slot->row);
    if (!self.cursorSet_[row]) {
        self.cursorSet_[row] = true;
        if (GdkWindow* input = gtk_button_get_event_window(GTK_BUTTON(widget)))
            gdk_window_set_cursor(input, self.FingerCursor(kKeys[row].finger));
    }
    return FALSE;
}

void GtkKeyboard::OnKeyClicked(GtkWidget*, Slot* slot) {
    GtkKeyboard& self = *slot->keyboard;
    self.clickingRow_ = slot->row;
    self.keyboard_.Click(kKeys[static_cast<std::size_t>(slot->row)].key);
    self.clickingRow_ = -1;
}

gboolean GtkKeyboard::OnLabelDraw(GtkWidget* widget, cairo_t* cr, Slot* slot) {
    const GtkKeyboard& self = *slot->keyboard;
    const LabelDef& l = kLabels[static_cast<std::size_t>(slot->row)];
    PaintLabel(cr, gtk_widget_get_allocated_width(widget), self.keyboard_.States().LabelColour(l), l.caption, self.font_);
    return TRUE;
}

// Every draw of the background puts the window back at the bottom centre, as
// every paint of it does on Windows. A key or a light that redraws itself (a
// click, a caption) draws no background, and neither does what a tooltip or
// the menu uncovers as it closes (on Windows they save what lies under them):
// the window stays where it was dragged.
gboolean GtkKeyboard::OnWindowDraw(GtkWidget*, cairo_t* cr, GtkKeyboard* self) {
    if (self->layer_ && self->layer_->TakeMoveDraw()) return FALSE;
    if (!self->iconified_ && self->BackgroundIn(cr)) self->keyboard_.Form_Paint();
    return FALSE;
}

bool GtkKeyboard::BackgroundIn(cairo_t* cr) const {
    cairo_rectangle_list_t* clip = cairo_copy_clip_rectangle_list(cr);
    if (clip->status != CAIRO_STATUS_SUCCESS) {
        cairo_rectangle_list_destroy(clip);
        return true;
    }
    cairo_region_t* drawn = cairo_region_create();
    for (int i = 0; i < clip->num_rectangles; ++i) {
        const cairo_rectangle_t& c = clip->rectangles[i];
        const cairo_rectangle_int_t r{static_cast<int>(c.x), static_cast<int>(c.y), static_cast<int>(c.width + 0.5),
                                      static_cast<int>(c.height + 0.5)};
        cairo_region_union_rectangle(drawn, &r);
    }
    cairo_rectangle_list_destroy(clip);
    auto remove = [drawn](int x, int y, int w, int h) {
        const cairo_rectangle_int_t r{x, y, w, h};
        cairo_region_subtract_rectangle(drawn, &r);
    };
    for (const PixelRect& r : keyRects_) remove(r.left, r.top, r.right - r.left, r.bottom - r.top);
    for (const PixelRect& r : labelRects_) remove(r.left, r.top, r.right - r.left, r.bottom - r.top);
    // Our own pop-up windows, shown or hidden since: tooltips and the menu.
    int ox = 0, oy = 0;
    gdk_window_get_origin(gtk_widget_get_window(window_), &ox, &oy);
    GList* toplevels = gdk_screen_get_toplevel_windows(gdk_screen_get_default());
    for (GList* t = toplevels; t; t = t->next) {
        auto* popup = static_cast<GdkWindow*>(t->data);
        if (gdk_window_get_window_type(popup) != GDK_WINDOW_TEMP) continue;
        int px = 0, py = 0;
        gdk_window_get_origin(popup, &px, &py);
        remove(px - ox, py - oy, gdk_window_get_width(popup), gdk_window_get_height(popup));
    }
    g_list_free(toplevels);
    const bool background = !cairo_region_is_empty(drawn);
    cairo_region_destroy(drawn);
    return background;
}

bool GtkKeyboard::OverControl(double x, double y) const {
    auto inside = [x, y](const PixelRect& r) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; };
    for (const PixelRect& r : keyRects_)
        if (inside(r)) return true;
    for (const PixelRect& r : labelRects_)
        if (inside(r)) return true;
    return false;
}

// A press on the background; on a light or a label it does nothing at all.
gboolean GtkKeyboard::OnWindowPress(GtkWidget* widget, GdkEventButton* event, GtkKeyboard* self) {
    if (event->type != GDK_BUTTON_PRESS || event->window != gtk_widget_get_window(widget)) return FALSE;
    if (self->OverControl(event->x, event->y)) return TRUE;
    const int button = GdkButtonToWindows(event->button);
    if (button == 0) return FALSE;
    self->eventTime_ = event->time;
    self->press_ = event;
    self->keyboard_.Form_MouseDown(button);
    self->press_ = nullptr;
    return TRUE;
}

gboolean GtkKeyboard::OnWindowMotion(GtkWidget* widget, GdkEventMotion* event, GtkKeyboard* self) {
    if (self->layer_ && self->layer_->Dragging() && (event->state & GDK_BUTTON1_MASK)) {
        self->layer_->DragTo(event->x, event->y);
        return TRUE;
    }
    if (self->moveFrom_ && (event->state & GDK_BUTTON1_MASK)) {
        const GdkPoint from = *std::exchange(self->moveFrom_, std::nullopt);
        gtk_window_begin_move_drag(GTK_WINDOW(widget), 1, from.x, from.y, event->time);
        return TRUE;
    }
    if (event->window == gtk_widget_get_window(widget) && !self->OverControl(event->x, event->y))
        self->keyboard_.Form_MouseMove();
    return FALSE;
}

gboolean GtkKeyboard::OnWindowState(GtkWidget*, GdkEventWindowState* event, GtkKeyboard* self) {
    self->iconified_ = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    return FALSE;
}

gboolean GtkKeyboard::OnDelete(GtkWidget*, GdkEvent*, GtkKeyboard* self) {
    self->Unload();
    gtk_main_quit();
    return TRUE;
}

void GtkKeyboard::MoveFocusTo(int row) {
    if (row == focusedRow_) return;
    const int old = std::exchange(focusedRow_, row);
    if (old >= 0) keyboard_.LostFocus(kKeys[static_cast<std::size_t>(old)].key);
    keyboard_.GotFocus(kKeys[static_cast<std::size_t>(row)].key);
}

void GtkKeyboard::Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    keyboard_.Form_Unload();
    keys_->ReleaseAllAndRestore();
}

void GtkKeyboard::ComeBack() {
    if (layer_) {
        if (!gtk_widget_get_visible(window_)) gtk_widget_show(window_);
        return;
    }
    if (iconified_) gtk_window_deiconify(GTK_WINDOW(window_));
}

// The pointer images are icons without a hot spot: it goes on the red tip of
// the marked finger, the point that strikes the key, as the generator of the
// images wrote it down.
GdkCursor* GtkKeyboard::FingerCursor(Finger finger) {
    const auto i = static_cast<std::size_t>(finger);
    if (fingerCursors_[i]) return fingerCursors_[i];
    GdkPixbuf* pixbuf = LoadIcon(kFingerIcons[i]);
    if (!pixbuf) return nullptr;
    const PointerHotSpot tip = kFingerHotSpots[i];
    fingerCursors_[i] = gdk_cursor_new_from_pixbuf(gdk_display_get_default(), pixbuf,
                                                   tip.x * gdk_pixbuf_get_width(pixbuf) / kPointerImageSize,
                                                   tip.y * gdk_pixbuf_get_height(pixbuf) / kPointerImageSize);
    g_object_unref(pixbuf);
    return fingerCursors_[i];
}

// --- the platform ------------------------------------------------------------

void GtkKeyboard::KeyDown(std::uint8_t vk) {
    const ControlStates& states = keyboard_.States();
    keys_->FollowLocks(LightLit(states.LightColour(Light::大写灯)), LightLit(states.LightColour(Light::数字灯)));
    const bool keypadEnter =
        clickingRow_ >= 0 && kKeys[static_cast<std::size_t>(clickingRow_)].key.control == Control::小回车;
    keys_->Press(vk, keypadEnter);
}

void GtkKeyboard::KeyUp(std::uint8_t vk) { keys_->Release(vk); }

void GtkKeyboard::RedrawKey(KeyRef key, KeyChange what) {
    const int row = KeyRow(key);
    if (row < 0) return;
    const auto r = static_cast<std::size_t>(row);
    gtk_widget_queue_draw(keyWidgets_[r]);
    if (what.on) SetAccessibleOn(keyWidgets_[r], KeyHeld(key.control, keyboard_.States().Key(r).colour), nullptr, true);
}

void GtkKeyboard::Focus(KeyRef key) { focusedRow_ = KeyRow(key); }

void GtkKeyboard::RedrawLight(Light light) {
    GtkWidget* widget = labelWidgets_[LightRow(light)];
    gtk_widget_queue_draw(widget);
    const bool lit = LightLit(keyboard_.States().LightColour(light));
    SetAccessibleOn(widget, lit, lit ? "亮" : "灭", true);
}

void GtkKeyboard::Show() { gtk_widget_show_all(window_); }

// The keep-above band, and on top within it; nothing is activated. The band
// is asked for only when the window is not in it: each request changes the
// window's state, and some window managers answer it with a redraw, which
// would ask again.
void GtkKeyboard::StayOnTop() {
    if (layer_) return;  // the TOP layer is above every window
    GdkWindow* gw = gtk_widget_get_window(window_);
    if (!gw || !(gdk_window_get_state(gw) & GDK_WINDOW_STATE_ABOVE)) gtk_window_set_keep_above(GTK_WINDOW(window_), TRUE);
    if (gw && gtk_widget_get_mapped(window_)) gdk_window_raise(gw);
}

// Done before the window was first shown, so that it never takes the focus at
// all; said again here, where the start-up sequence asks for it.
void GtkKeyboard::NeverActivate() {
    gtk_window_set_accept_focus(GTK_WINDOW(window_), FALSE);
    gtk_window_set_focus_on_map(GTK_WINDOW(window_), FALSE);
}

GdkRectangle GtkKeyboard::Frame() const {
    GdkRectangle frame{0, 0, 0, 0};
    if (GdkWindow* gw = gtk_widget_get_window(window_)) {
        gdk_window_get_frame_extents(gw, &frame);
    } else {
        gtk_window_get_position(GTK_WINDOW(window_), &frame.x, &frame.y);
        gtk_window_get_size(GTK_WINDOW(window_), &frame.width, &frame.height);
    }
    return frame;
}

// The primary screen whole, not its work area, and the window with its frame.
ScreenMetrics GtkKeyboard::Metrics() const {
    if (layer_) {
        const GdkRectangle screen = layer_->Screen(), surface = layer_->Surface();
        return {static_cast<float>(PixelsToTwips(screen.width, dpi_)), static_cast<float>(PixelsToTwips(screen.height, dpi_)),
                static_cast<float>(PixelsToTwips(surface.width, dpi_)),
                static_cast<float>(PixelsToTwips(surface.height, dpi_))};
    }
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle screen{0, 0, 0, 0};
    if (monitor) gdk_monitor_get_geometry(monitor, &screen);
    const GdkRectangle frame = Frame();
    return {static_cast<float>(PixelsToTwips(screen.width, dpi_)), static_cast<float>(PixelsToTwips(screen.height, dpi_)),
            static_cast<float>(PixelsToTwips(frame.width, dpi_)), static_cast<float>(PixelsToTwips(frame.height, dpi_)),
            static_cast<float>(PixelsToTwips(screen.x, dpi_)), static_cast<float>(PixelsToTwips(screen.y, dpi_))};
}

// With the north-west gravity GTK gives it, the window manager puts the
// frame's top-left corner where the window is moved to.
void GtkKeyboard::MoveFrame(int x, int y) {
    const GdkRectangle frame = Frame();
    if (frame.x != x || frame.y != y) gtk_window_move(GTK_WINDOW(window_), x, y);
}

// The window manager moves the frame after the call returns: Top goes with the
// Left asked for just before, not with the one the frame still shows.
void GtkKeyboard::SetLeft(float twips) {
    if (layer_) return layer_->MoveTo(TwipsToPixels(twips, dpi_), layer_->Surface().y);
    left_ = TwipsToPixels(twips, dpi_);
    MoveFrame(*left_, Frame().y);
}

void GtkKeyboard::SetTop(float twips) {
    if (layer_) return layer_->MoveTo(layer_->Surface().x, TwipsToPixels(twips, dpi_));
    MoveFrame(left_ ? *left_ : Frame().x, TwipsToPixels(twips, dpi_));
}

// The window manager moves the window with the mouse while the left button is
// held. It is asked to once the pointer moves with the button down: asked at
// the press, a window manager that hears of it only after a quick click's
// release waits for a release that has come already, and takes the next click
// for the end of the move. For the other buttons there is nothing to move.
void GtkKeyboard::BeginMove() {
    if (layer_ && press_ && press_->button == 1) return layer_->BeginDrag(press_->x, press_->y);
    if (press_ && press_->button == 1)
        moveFrom_ = GdkPoint{static_cast<int>(press_->x_root), static_cast<int>(press_->y_root)};
}

// A layer surface cannot be minimised: on Wayland the keyboard hides, until
// it is started again.
void GtkKeyboard::Minimise() {
    if (layer_) return gtk_widget_hide(window_);
    gtk_window_iconify(GTK_WINDOW(window_));
}

// Built once, at its first use; runs until the menu closes, as a Windows pop-up menu does.
int GtkKeyboard::ShowPopupMenu() {
    if (!menu_) {
        menu_ = gtk_menu_new();
        g_object_ref_sink(menu_);
        for (std::size_t row = 0; row < kMenuItems.size(); ++row) {
            GtkWidget* item = gtk_menu_item_new_with_label(Utf8(kMenuItems[row].caption).c_str());
            if (static_cast<int>(row) == kDefaultMenuItem) {
                gchar* bold = g_markup_printf_escaped("<b>%s</b>", Utf8(kMenuItems[row].caption).c_str());
                gtk_label_set_markup(GTK_LABEL(gtk_bin_get_child(GTK_BIN(item))), bold);
                g_free(bold);
            }
            g_object_set_data(G_OBJECT(item), "vimbrel-row", GINT_TO_POINTER(static_cast<int>(row)));
            g_signal_connect(item, "activate", G_CALLBACK(+[](GtkWidget* widget, GtkKeyboard* self) {
                                 self->menuChoice_ = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), "vimbrel-row"));
                                 self->eventTime_ = gtk_get_current_event_time();
                             }),
                             this);
            gtk_menu_shell_append(GTK_MENU_SHELL(menu_), item);
        }
        gtk_menu_attach_to_widget(GTK_MENU(menu_), window_, nullptr);
        gtk_widget_show_all(menu_);
    }
    menuChoice_ = -1;
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    // The chosen item is activated right after the menu closes, before the loop returns.
    const gulong closed = g_signal_connect_swapped(menu_, "deactivate", G_CALLBACK(g_main_loop_quit), loop);
    gtk_menu_popup_at_pointer(GTK_MENU(menu_), reinterpret_cast<GdkEvent*>(press_));
    if (gtk_widget_get_visible(menu_)) g_main_loop_run(loop);
    g_signal_handler_disconnect(menu_, closed);
    g_main_loop_unref(loop);
    return menuChoice_;
}

// Some window managers open a new window without the focus unless told the
// time of the click that asked for it. When the message closes, the focus
// goes back where it was: to the application being typed into.
void GtkKeyboard::ShowMessage(std::u16string_view title, std::u16string_view text) {
    if (layer_) return RunMessage(title, text);  // the compositor gives the focus back itself
    Display* display = XDisplay();
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const Window active = RootWindowProperty(display, "_NET_ACTIVE_WINDOW");

    RunMessage(title, text);
    RestoreFocus(focus, active);
}

void GtkKeyboard::RunMessage(std::u16string_view title, std::u16string_view text) {
    GtkWidget* dialog = gtk_message_dialog_new(GTK_WINDOW(window_), GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                               GTK_BUTTONS_OK, "%s", Utf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), Utf8(title).c_str());
    // Over the middle of the screen: centred over a keyboard at the bottom, it would hang off the screen.
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_widget_show(dialog);
    gtk_window_present_with_time(GTK_WINDOW(dialog), eventTime_);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

void GtkKeyboard::RestoreFocus(Window focus, Window active) const {
    Display* display = XDisplay();
    XSync(display, False);
    if (active != None) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = active;
        e.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = 2;  // from a pager: the window manager does as asked
        e.xclient.data.l[1] = static_cast<long>(gtk_get_current_event_time());
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    } else if (focus != None && focus != PointerRoot) {
        gdk_x11_display_error_trap_push(gdk_display_get_default());
        XSetInputFocus(display, focus, RevertToParent, CurrentTime);
        gdk_x11_display_error_trap_pop_ignored(gdk_display_get_default());
    }
    XFlush(display);
}

// The desktop's default handler for web addresses; fire and forget.
void GtkKeyboard::OpenAddress(std::u16string_view address) {
    const std::string url = Utf8(address);
    gchar* argv[] = {const_cast<gchar*>("xdg-open"), const_cast<gchar*>(url.c_str()), nullptr};
    g_spawn_async(nullptr, argv, nullptr,
                  GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                  nullptr, nullptr, nullptr);
}

}  // namespace vimbrel
