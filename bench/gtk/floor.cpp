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

#include "bench/gtk/plain_keys.h"
#include "layout/key_table.h"
#include "layout/twips.h"
#include "platform/gtk/keysyms.h"
#include "window/controls.h"
#include "window/messages.h"

namespace {




void OnClicked(GtkButton*, gpointer row) {
    Display* display = gdk_x11_get_default_xdisplay();
    const KeyCode code = XKeysymToKeycode(display, floor_keys::kKeysyms[GPOINTER_TO_SIZE(row)]);
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

    floor_keys::LoadCss();

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* w = GTK_WINDOW(window);
    gtk_window_set_title(w, floor_keys::Utf8(vimbrel::kWindowTitle).c_str());
    gtk_window_set_resizable(w, FALSE);
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_accept_focus(w, FALSE);
    gtk_window_set_focus_on_map(w, FALSE);
    gtk_window_set_keep_above(w, TRUE);
    gtk_window_move(w, TwipsToPixels(vimbrel::kDesignClientLeft, dpi), TwipsToPixels(vimbrel::kDesignClientTop, dpi));
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    floor_keys::AddKeys(window, dpi, OnClicked);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
