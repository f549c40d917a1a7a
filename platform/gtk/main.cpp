// Entry point of the native keyboard: the window system, one keyboard per
// display, then the window and GTK's main loop.
#include <glib-unix.h>
#include <gdk/gdkwayland.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

#include "platform/gtk/backend.h"
#include "platform/gtk/gtk_keyboard.h"
#include "platform/gtk/portal_keys.h"
#include "platform/gtk/single_instance.h"
#include "platform/gtk/wayland_instance.h"
#include "platform/gtk/wayland_keys.h"

namespace {

vimbrel::GtkKeyboard* g_keyboard = nullptr;
vimbrel::PortalKeys* g_portal = nullptr;
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
    if (g_portal) g_portal->ReleaseAllAndRestore();  // the session bus is still there
    vimbrel::XKeys::RescueAfterConnectionLoss(g_displayName.c_str());
    _exit(1);
}

GdkFilterReturn OnXEvent(GdkXEvent* xevent, GdkEvent*, gpointer claim) {
    if (!static_cast<vimbrel::DisplayClaim*>(claim)->IsComeBackRequest(*static_cast<XEvent*>(xevent)))
        return GDK_FILTER_CONTINUE;
    if (g_keyboard) g_keyboard->ComeBack();
    return GDK_FILTER_REMOVE;
}

// On Wayland the main loop ends and the keyboard, then the virtual keyboard,
// are taken down in order.
gboolean OnWaylandSignal(gpointer) {
    if (g_keyboard) g_keyboard->Unload();
    gtk_main_quit();
    return G_SOURCE_CONTINUE;
}

// Said once per session where the compositor lacks the keyboard's Wayland
// protocols: started from a menu, nobody reads what it writes to stderr.
constexpr char16_t kXwaylandTitle[] = u"Vimbrel";
constexpr char16_t kXwaylandText[] =
    u"此 Wayland 桌面不提供屏幕键盘所需的接口（wlr 层外壳与虚拟键盘），键盘经由 XWayland 运行。\n"
    u"目前只有 X11 应用程序能收到它的按键，Wayland 应用程序收不到。";

// Where the keys went through the desktop's remote-input portal and no
// longer can: said once, as the keyboard falls back to XTest.
constexpr char16_t kPortalDeclinedText[] =
    u"未获准远程输入，屏幕键盘改经 XWayland 发送按键。\n"
    u"目前只有 X11 应用程序能收到它的按键，Wayland 应用程序收不到。重新启动键盘可再次请求许可。";
constexpr char16_t kPortalClosedText[] =
    u"桌面结束了屏幕键盘的远程输入，键盘改经 XWayland 发送按键。\n"
    u"目前只有 X11 应用程序能收到它的按键，Wayland 应用程序收不到。重新启动键盘可再次请求许可。";

// A compositor with a layer shell and virtual keyboards (wlroots): a layer
// surface typing through the compositor. If the compositor goes away, GDK
// ends the program (status 1); what the virtual keyboard held went with it.
int RunOnWayland(int argc, char** argv) {
    vimbrel::WaylandClaim claim;
    if (!claim.Claimed()) return 0;
    gdk_set_allowed_backends("wayland");
    if (!gtk_init_check(&argc, &argv) || !GDK_IS_WAYLAND_DISPLAY(gdk_display_get_default())) {
        std::fputs("vimbrel: cannot open the Wayland display\n", stderr);
        return 1;
    }
    GdkDisplay* display = gdk_display_get_default();
    vimbrel::WaylandKeys keys(gdk_wayland_display_get_wl_display(display),
                              gdk_wayland_seat_get_wl_seat(gdk_display_get_default_seat(display)));
    if (!keys.Ready()) {
        std::fputs("vimbrel: the compositor made no virtual keyboard\n", stderr);
        return 1;
    }
    vimbrel::LayerWindow layer;
    vimbrel::GtkKeyboard keyboard(keys, layer);
    g_keyboard = &keyboard;
    claim.OnComeBack([](void*) { if (g_keyboard) g_keyboard->ComeBack(); }, nullptr);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(sig, OnWaylandSignal, nullptr);
    keyboard.Create();
    gtk_main();
    g_keyboard = nullptr;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const vimbrel::BackendChoice choice = vimbrel::ChooseBackend(argc, argv);
    if (choice.backend == vimbrel::Backend::Wayland) return RunOnWayland(argc, argv);
    // XTest reaches X clients only; under Wayland that is what runs through Xwayland.
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland && !choice.portalKeys)
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

    // The desktop asks the user (GNOME, at every start) before the keyboard
    // appears, so that the answer is given before the first click. A session
    // that does not start leaves the keyboard on XTest.
    std::optional<vimbrel::PortalKeys> portal;
    bool declined = false;
    if (choice.portalKeys) {
        portal.emplace([](std::uint8_t vk, unsigned keysym) { return g_keyboard ? g_keyboard->OnLayout(vk, keysym) : 0u; });
        if (!portal->Open()) {
            portal.reset();
            declined = true;
        }
    }
    std::optional<vimbrel::GtkKeyboard> keyboard;
    if (portal)
        keyboard.emplace(*portal);
    else
        keyboard.emplace();
    g_keyboard = &*keyboard;
    g_portal = portal ? &*portal : nullptr;
    XSetIOErrorHandler(OnConnectionLost);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(sig, OnSignal, nullptr);

    keyboard->Create();
    if (portal) {
        portal->OnLost([] {
            g_portal = nullptr;
            g_keyboard->FallBackToXTest();
            g_keyboard->ShowMessage(kXwaylandTitle, kPortalClosedText);
        });
    } else if (declined) {
        keyboard->ShowMessage(kXwaylandTitle, kPortalDeclinedText);
    } else if (choice.xwaylandOnly && vimbrel::FirstXwaylandNotice()) {
        keyboard->ShowMessage(kXwaylandTitle, kXwaylandText);
    }
    gtk_main();
    keyboard.reset();
    g_keyboard = nullptr;
    g_portal = nullptr;
    return 0;
}
