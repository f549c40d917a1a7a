// The floor the native keyboard is measured against on Wayland: the least a
// GTK 3 program with the keyboard's window must cost there. A layer surface
// as the keyboard's (TOP layer, bottom edge, 450 twips up, no keyboard focus,
// no exclusive zone), the 104 keys as plain GtkButtons at the same places
// with their design captions, each click sending its key's press and release
// through a virtual keyboard with a US keymap. Nothing else: no drawing of
// our own, colours, captions that change, lights, tooltips, pointers, menu,
// modifiers or locks.
#include <fcntl.h>
#include <gdk/gdkwayland.h>
#include <gtk-layer-shell/gtk-layer-shell.h>
#include <gtk/gtk.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "bench/gtk/plain_keys.h"
#include "layout/key_table.h"
#include "layout/twips.h"
#include "platform/gtk/keysyms.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "window/controls.h"

namespace {


zwp_virtual_keyboard_manager_v1* g_manager = nullptr;
zwp_virtual_keyboard_v1* g_keyboard = nullptr;
std::array<std::uint32_t, vimbrel::kKeys.size()> g_codes{};  // evdev code per key row



void OnGlobal(void*, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    if (std::string_view(interface) == zwp_virtual_keyboard_manager_v1_interface.name)
        g_manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener kListener = {OnGlobal, OnGlobalRemove};

// The virtual keyboard with a US keymap, and each key's code in it.
bool MakeKeyboard() {
    GdkDisplay* display = gdk_display_get_default();
    wl_display* wl = gdk_wayland_display_get_wl_display(display);
    wl_registry* registry = wl_display_get_registry(wl);
    wl_registry_add_listener(registry, &kListener, nullptr);
    wl_display_roundtrip(wl);
    if (!g_manager) return false;
    g_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        g_manager, gdk_wayland_seat_get_wl_seat(gdk_display_get_default_seat(display)));
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    const std::size_t size = std::strlen(text) + 1;
    const int fd = memfd_create("floor-keymap", MFD_CLOEXEC);
    if (write(fd, text, size) != static_cast<ssize_t>(size)) return false;
    zwp_virtual_keyboard_v1_keymap(g_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<std::uint32_t>(size));
    close(fd);
    free(text);
    for (std::size_t row = 0; row < g_codes.size(); ++row) {
        const unsigned sym = floor_keys::kKeysyms[row];
        for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap); ++code) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms) >= 1 && syms[0] == sym) {
                g_codes[row] = code - 8;
                break;
            }
        }
    }
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return true;
}

void OnClicked(GtkButton*, gpointer row) {
    const std::uint32_t code = g_codes[GPOINTER_TO_SIZE(row)];
    if (!code) return;
    const auto now = static_cast<std::uint32_t>(g_get_monotonic_time() / 1000);
    zwp_virtual_keyboard_v1_key(g_keyboard, now, code, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_key(g_keyboard, now, code, WL_KEYBOARD_KEY_STATE_RELEASED);
    wl_display_flush(gdk_wayland_display_get_wl_display(gdk_display_get_default()));
}

}  // namespace

int main(int argc, char** argv) {
    using vimbrel::TwipsToPixels;
    gdk_set_allowed_backends("wayland");
    if (!gtk_init_check(&argc, &argv) || !MakeKeyboard()) return 1;
    constexpr int dpi = 96;

    floor_keys::LoadCss();

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* w = GTK_WINDOW(window);
    gtk_layer_init_for_window(w);
    gtk_layer_set_namespace(w, "vimbrel-floor");
    gtk_layer_set_layer(w, GTK_LAYER_SHELL_LAYER_TOP);
    gtk_layer_set_keyboard_mode(w, GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
    gtk_layer_set_anchor(w, GTK_LAYER_SHELL_EDGE_BOTTOM, TRUE);
    gtk_layer_set_margin(w, GTK_LAYER_SHELL_EDGE_BOTTOM, TwipsToPixels(450, dpi));
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    floor_keys::AddKeys(window, dpi, OnClicked);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
