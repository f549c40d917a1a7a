// Entry point of the native keyboard: one per display, then the window and GTK's main loop.
#include <glib-unix.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/gtk/gtk_keyboard.h"
#include "platform/gtk/single_instance.h"

namespace {

vimbrel::GtkKeyboard* g_keyboard = nullptr;
std::string g_displayName;

// Ended by a signal: the same way out as the close button.
gboolean OnSignal(gpointer) {
    if (g_keyboard) g_keyboard->Unload();
    std::exit(0);
}

// The connection to X is gone (the server ended it, or it died): keys held
// down by the keyboard would stay down for the whole display. A new
// connection lets go of them and gives the borrowed keycodes back.
int OnConnectionLost(Display*) {
    std::fputs("vimbrel: the connection to the X display was lost\n", stderr);
    vimbrel::XKeys::RescueAfterConnectionLoss(g_displayName.c_str());
    _exit(1);
}

GdkFilterReturn OnXEvent(GdkXEvent* xevent, GdkEvent*, gpointer claim) {
    if (!static_cast<vimbrel::DisplayClaim*>(claim)->IsComeBackRequest(*static_cast<XEvent*>(xevent)))
        return GDK_FILTER_CONTINUE;
    if (g_keyboard) g_keyboard->ComeBack();
    return GDK_FILTER_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    // XTest reaches X clients only; under Wayland that is what runs through Xwayland.
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland)
        std::fputs("vimbrel: Wayland session: keys reach X (Xwayland) applications only\n", stderr);
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(&argc, &argv)) {
        std::fputs("vimbrel: cannot open the X display (is DISPLAY set?)\n", stderr);
        return 1;
    }
    Display* display = gdk_x11_get_default_xdisplay();
    g_displayName = DisplayString(display);

    vimbrel::DisplayClaim claim(display);
    if (!claim.Claimed()) return 0;
    // No other keyboard runs on this display now: what one left held is ours to undo.
    vimbrel::XKeys::RecoverAbandoned(display);
    gdk_window_add_filter(nullptr, OnXEvent, &claim);

    vimbrel::GtkKeyboard keyboard;
    g_keyboard = &keyboard;
    XSetIOErrorHandler(OnConnectionLost);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(sig, OnSignal, nullptr);

    keyboard.Create();
    gtk_main();
    g_keyboard = nullptr;
    return 0;
}
