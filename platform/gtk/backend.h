// Which window system the native keyboard runs on, chosen once at start.
#pragma once

namespace vimbrel {

enum class Backend { X11, Wayland };

struct BackendChoice {
    Backend backend = Backend::X11;
    // Started in a Wayland session whose compositor lacks what the keyboard
    // needs there (GNOME, KDE Plasma): it runs through XWayland, and its keys
    // reach X11 applications only.
    bool xwaylandOnly = false;
    // There, the session bus has a RemoteDesktop portal that offers keyboards:
    // the keys go through it to every application, X11 or Wayland.
    bool portalKeys = false;
};

// A Wayland compositor that offers zwlr_layer_shell_v1 and
// zwp_virtual_keyboard_manager_v1 gets a Wayland client; anything else, and
// GDK_BACKEND=x11 or the option --x11 (taken out of argv), an X11 one; in a
// Wayland session that one sends its keys through the RemoteDesktop portal
// where there is one.
BackendChoice ChooseBackend(int& argc, char** argv);

// In a Wayland session that runs the keyboard through XWayland, the user is
// told so once per session: true the first time it is asked in this session.
bool FirstXwaylandNotice();

}  // namespace vimbrel
