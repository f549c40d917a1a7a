#include "platform/gtk/backend.h"

#include "platform/gtk/portal_keys.h"

#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

namespace vimbrel {

namespace {

constexpr const char* kNeeded[] = {"zwlr_layer_shell_v1", "zwp_virtual_keyboard_manager_v1"};

void OnGlobal(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
    static_cast<std::set<std::string>*>(data)->insert(interface);
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener kListener = {OnGlobal, OnGlobalRemove};

// The globals the compositor of WAYLAND_DISPLAY offers; none when it cannot be
// reached. VIMBREL_HIDE_GLOBALS names globals to leave out, as if the
// compositor lacked them: how a desktop without them is tried where there is none.
std::set<std::string> CompositorGlobals() {
    std::set<std::string> globals;
    // A compositor that cannot be reached is an answer, not an error to print:
    // the X11 keyboard says what it has to say.
    wl_log_set_handler_client([](const char*, va_list) {});
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kListener, &globals);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (const char* hidden = std::getenv("VIMBREL_HIDE_GLOBALS")) {
        std::istringstream names(hidden);
        for (std::string name; names >> name;) globals.erase(name);
    }
    return globals;
}

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// GDK_BACKEND as GDK reads it: a comma-separated list, the first it can open wins.
bool X11Forced() {
    const char* list = std::getenv("GDK_BACKEND");
    return list && std::strncmp(list, "x11", 3) == 0 && (list[3] == '\0' || list[3] == ',');
}

}  // namespace

BackendChoice ChooseBackend(int& argc, char** argv) {
    bool forced = X11Forced();
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--x11") == 0)
            forced = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;

    BackendChoice choice;
    if (!forced && Set("WAYLAND_DISPLAY")) {
        const std::set<std::string> globals = CompositorGlobals();
        bool all = true;
        for (const char* needed : kNeeded) all = all && globals.count(needed) != 0;
        if (all)
            choice.backend = Backend::Wayland;
        else
            choice.xwaylandOnly = !globals.empty();
        choice.portalKeys = choice.xwaylandOnly && RemoteDesktopOffered();
    }
    return choice;
}

// A mark in the session's runtime folder, one per Wayland display: the
// folder lives as long as the user's session.
bool FirstXwaylandNotice() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (!runtime || !*runtime || !display) return true;
    std::string name = display;
    for (char& c : name)
        if (c == '/') c = '_';
    const std::string path = std::string(runtime) + "/vimbrel-xwayland-told-" + name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno != EEXIST;  // a mark that cannot be made: told every time
    close(fd);
    return true;
}

}  // namespace vimbrel
