// The floor the native keyboard is measured against: the least a GTK 3 program
// with the keyboard's window must cost. The same window (title, client size at
// the real DPI, utility type, never focused, kept above), the 104 keys as plain
// GtkButtons at the same places with their design captions, each click sending
// its key's press and release through XTest. Nothing else: no drawing of our
// own, colours, captions that change, lights, tooltips, pointers or menu. The
// style sheet only lets a button be as small as its key; a caption wider than
// its key is cut short.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "layout/key_table.h"
#include "layout/twips.h"
#include "platform/gtk/keysyms.h"
#include "window/controls.h"
#include "window/messages.h"

namespace {

constexpr vimbrel::Twips kClientLeft = 3675;
constexpr vimbrel::Twips kClientTop = 4485;
constexpr char kCss[] = "button { padding: 0; margin: 0; min-width: 0; min-height: 0; }";

std::string Utf8(std::u16string_view text) {
    gchar* s = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(text.data()), static_cast<glong>(text.size()),
                               nullptr, nullptr, nullptr);
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

// Each key's keysym, worked out while compiling from the keyboard's own tables:
// its virtual-key code, as the native keyboard looks it up; keypad Enter is KP_Enter.
constexpr std::array<unsigned, vimbrel::kKeys.size()> kKeysyms = [] {
    std::array<unsigned, vimbrel::kKeys.size()> syms{};
    for (std::size_t row = 0; row < syms.size(); ++row) {
        const vimbrel::KeyRef key = vimbrel::kKeys[row].key;
        syms[row] = key.control == vimbrel::Control::小回车
                        ? vimbrel::kKeypadEnterKeysym
                        : vimbrel::KeysymOf(static_cast<std::uint8_t>(vimbrel::VirtualKeyOf(key)));
    }
    return syms;
}();

void OnClicked(GtkButton*, gpointer row) {
    Display* display = gdk_x11_get_default_xdisplay();
    const KeyCode code = XKeysymToKeycode(display, kKeysyms[GPOINTER_TO_SIZE(row)]);
    if (!code) return;
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XFlush(display);
}

}  // namespace

int main(int argc, char** argv) {
    using vimbrel::TwipsToPixels;
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(&argc, &argv)) return 1;
    gint xftDpi = -1;  // Xft.dpi in 1024ths, -1 when unset
    g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &xftDpi, nullptr);
    const int dpi = xftDpi > 0 ? (xftDpi + 512) / 1024 : 96;

    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* w = GTK_WINDOW(window);
    gtk_window_set_title(w, Utf8(vimbrel::kWindowTitle).c_str());
    gtk_window_set_resizable(w, FALSE);
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_accept_focus(w, FALSE);
    gtk_window_set_focus_on_map(w, FALSE);
    gtk_window_set_keep_above(w, TRUE);
    gtk_window_move(w, TwipsToPixels(kClientLeft, dpi), TwipsToPixels(kClientTop, dpi));
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, TwipsToPixels(vimbrel::kClientWidth, dpi),
                                TwipsToPixels(vimbrel::kClientHeight, dpi));
    gtk_container_add(GTK_CONTAINER(window), fixed);
    for (std::size_t row = 0; row < vimbrel::kKeys.size(); ++row) {
        const vimbrel::KeyDef& k = vimbrel::kKeys[row];
        const vimbrel::PixelRect r = vimbrel::ToPixels(k.left, k.top, k.width, k.height, dpi);
        GtkWidget* button = gtk_button_new_with_label(Utf8(k.caption).c_str());
        gtk_label_set_ellipsize(GTK_LABEL(gtk_bin_get_child(GTK_BIN(button))), PANGO_ELLIPSIZE_END);
        gtk_widget_set_can_focus(button, FALSE);
        gtk_widget_set_size_request(button, r.right - r.left, r.bottom - r.top);
        g_signal_connect(button, "clicked", G_CALLBACK(OnClicked), GSIZE_TO_POINTER(row));
        gtk_fixed_put(GTK_FIXED(fixed), button, r.left, r.top);
    }
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
