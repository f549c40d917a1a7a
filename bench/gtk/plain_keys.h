// What both GTK floors share: the keyboard's 104 keys as plain GtkButtons with
// their design captions at the keys' places, each key's keysym worked out while
// compiling from the keyboard's own tables, and the theme's padding taken away.
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "layout/key_table.h"
#include "layout/twips.h"
#include "platform/gtk/keysyms.h"
#include "window/controls.h"

namespace floor_keys {

inline std::string Utf8(std::u16string_view text) {
    gchar* s = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(text.data()), static_cast<glong>(text.size()),
                               nullptr, nullptr, nullptr);
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

// Each key's keysym: its virtual-key code, as the native keyboard looks it up;
// keypad Enter is KP_Enter.
inline constexpr std::array<unsigned, vimbrel::kKeys.size()> kKeysyms = [] {
    std::array<unsigned, vimbrel::kKeys.size()> syms{};
    for (std::size_t row = 0; row < syms.size(); ++row) {
        const vimbrel::KeyRef key = vimbrel::kKeys[row].key;
        syms[row] = key.control == vimbrel::Control::小回车
                        ? vimbrel::kKeypadEnterKeysym
                        : vimbrel::KeysymOf(static_cast<std::uint8_t>(vimbrel::VirtualKeyOf(key)));
    }
    return syms;
}();

inline void LoadCss() {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, "button { padding: 0; margin: 0; min-width: 0; min-height: 0; }", -1,
                                    nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

// The keys in the window, at the DPI; a click on one calls onClicked with its row.
inline void AddKeys(GtkWidget* window, int dpi, void (*onClicked)(GtkButton*, gpointer row)) {
    using vimbrel::TwipsToPixels;
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
        g_signal_connect(button, "clicked", G_CALLBACK(onClicked), GSIZE_TO_POINTER(row));
        gtk_fixed_put(GTK_FIXED(fixed), button, r.left, r.top);
    }
}

}  // namespace floor_keys
