// The RemoteDesktop portal through GDBus. Every call waits for its reply
// before the next is made: key events sent without waiting arrive at the
// compositor reordered or not at all, and a Shift can stay down there.
//
// The portal takes keysyms, and the compositor finds a key for each in its
// current layout (and presses Shift itself for a second-level one). The keys
// are the X11 keyboard's: the first-level keysym of the US layout, latched
// Shift and Ctrl held, Alt and the Windows keys pressed around each key; the
// keypad's digits go as their keys. The portal cannot tell the desktop's
// lock state, so the keyboard keeps its own: before each key its Caps Lock
// and Num Lock lights are made the desktop's locks with Caps_Lock and
// Num_Lock strokes, counted from both off at the start.
#include "platform/gtk/portal_keys.h"

#include <gio/gio.h>

#include <cstdlib>
#include <utility>

#include "layout/physical_keys.h"
#include "platform/gtk/keysyms.h"
#include "window/controls.h"

namespace vimbrel {

namespace {

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr char kPath[] = "/org/freedesktop/portal/desktop";
constexpr char kRemoteDesktop[] = "org.freedesktop.portal.RemoteDesktop";
constexpr std::uint32_t kKeyboardDevice = 1;
constexpr std::uint32_t kDenied = 1;  // Response: the user said no

// Alt and the Windows keys, in the order they go down around a key.
constexpr std::uint8_t kAroundKeys[] = {164, 165, 91, 92};

// The session bus as this session knows it. GIO would start a bus of its
// own through X when none is named (dbus-launch), one that outlives us.
GDBusConnection* SessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const bool known = (address && *address) ||
                       (runtime && *runtime && g_file_test((std::string(runtime) + "/bus").c_str(), G_FILE_TEST_EXISTS));
    return known ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr) : nullptr;
}

struct Waiting {
    GMainLoop* loop;
    std::uint32_t response = 2;
    GVariant* results = nullptr;
};

void OnResponse(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
                gpointer data) {
    auto* waiting = static_cast<Waiting*>(data);
    g_variant_get(parameters, "(u@a{sv})", &waiting->response, &waiting->results);
    g_main_loop_quit(waiting->loop);
}

// A keypad digit or decimal point goes as its key's input event code: the
// compositor would type its keysym with Shift, which on the keypad cancels
// Num Lock. With the desktop's Num Lock on, the key types the digit.
unsigned KeypadDigitCode(std::uint8_t vk) {
    if (!((vk >= 96 && vk <= 105) || vk == 110)) return 0;
    for (const PhysicalKey& p : kPhysicalKeys)
        if (p.key.control == Control::小键盘 && VirtualKeyOf(p.key) == vk) return static_cast<unsigned>(p.evdev);
    return 0;
}

}  // namespace

bool RemoteDesktopOffered() {
    GDBusConnection* bus = SessionBus();
    if (!bus) return false;
    // Asking starts the portal where it is installed but not yet running.
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kPortal, kPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kRemoteDesktop, "AvailableDeviceTypes"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
    g_object_unref(bus);
    if (!reply) return false;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    const bool keyboards = g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32) &&
                           (g_variant_get_uint32(value) & kKeyboardDevice) != 0;
    g_variant_unref(value);
    g_variant_unref(reply);
    return keyboards;
}

PortalKeys::PortalKeys(Resolve resolve) : resolve_(std::move(resolve)), bus_(SessionBus()) {}

PortalKeys::~PortalKeys() {
    ReleaseAllAndRestore();
    if (bus_) g_object_unref(bus_);
}

// A portal request: the reply names a Request object, whose Response signal
// carries the answer. The object's path is known before the call (the
// sender's name and a token of ours), so the answer cannot come before we
// listen for it. Returns the results, or nullptr with the response when the
// request failed.
GVariant* PortalKeys::Request(const char* method, std::uint32_t& response) {
    static unsigned counter = 0;
    const std::string token = "vimbrel" + std::to_string(++counter);
    std::string sender = g_dbus_connection_get_unique_name(bus_) + 1;  // without the leading ':'
    for (char& c : sender)
        if (c == '.') c = '_';
    const std::string path = std::string(kPath) + "/request/" + sender + "/" + token;

    Waiting waiting{g_main_loop_new(nullptr, FALSE)};
    const guint watch = g_dbus_connection_signal_subscribe(bus_, kPortal, "org.freedesktop.portal.Request",
                                                           "Response", path.c_str(), nullptr,
                                                           G_DBUS_SIGNAL_FLAGS_NONE, OnResponse, &waiting, nullptr);
    // The portal going away answers no request: the wait ends with it.
    const guint gone = g_bus_watch_name_on_connection(
        bus_, kPortal, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const char*, gpointer loop) { g_main_loop_quit(static_cast<GMainLoop*>(loop)); },
        waiting.loop, nullptr);

    // The parameters end with the options, to which the token is added.
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    GVariant* call = nullptr;
    if (std::string_view(method) == "CreateSession") {
        g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string("vimbrel"));
        call = g_variant_new("(a{sv})", &options);
    } else if (std::string_view(method) == "SelectDevices") {
        g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kKeyboardDevice));
        call = g_variant_new("(oa{sv})", session_.c_str(), &options);
    } else {
        // No parent window: the keyboard's window never takes the focus, and
        // the question is the desktop's, not the window's.
        call = g_variant_new("(osa{sv})", session_.c_str(), "", &options);
    }

    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus_, kPortal, kPath, kRemoteDesktop, method, call,
                                                  G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply) {
        g_variant_unref(reply);
        g_main_loop_run(waiting.loop);
    } else {
        g_printerr("vimbrel: the RemoteDesktop portal refused %s: %s\n", method, error->message);
        g_error_free(error);
    }
    g_bus_unwatch_name(gone);
    g_dbus_connection_signal_unsubscribe(bus_, watch);
    g_main_loop_unref(waiting.loop);
    response = waiting.response;
    if (response != 0 && waiting.results) {
        g_variant_unref(waiting.results);
        return nullptr;
    }
    return waiting.results;
}

bool PortalKeys::Open() {
    if (!bus_) return false;
    std::uint32_t response = 0;
    GVariant* created = Request("CreateSession", response);
    if (!created) return false;
    const char* handle = nullptr;
    if (g_variant_lookup(created, "session_handle", "&s", &handle) && g_variant_is_object_path(handle))
        session_ = handle;
    g_variant_unref(created);
    if (session_.empty()) return false;

    // The session may be closed by the desktop at any time from now on.
    closedWatch_ = g_dbus_connection_signal_subscribe(
        bus_, kPortal, "org.freedesktop.portal.Session", "Closed", session_.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*, gpointer self) {
            static_cast<PortalKeys*>(self)->Lost();
        },
        this, nullptr);
    portalWatch_ = g_bus_watch_name_on_connection(
        bus_, kPortal, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const char*, gpointer self) { static_cast<PortalKeys*>(self)->Lost(); }, this, nullptr);

    GVariant* selected = Request("SelectDevices", response);
    if (selected) g_variant_unref(selected);
    GVariant* started = selected ? Request("Start", response) : nullptr;
    std::uint32_t devices = 0;
    if (started) {
        g_variant_lookup(started, "devices", "u", &devices);
        g_variant_unref(started);
    }
    if (!started || !(devices & kKeyboardDevice)) {
        if (response == kDenied) g_printerr("vimbrel: remote input was not allowed\n");
        Close();
        return false;
    }
    // The compositor makes the session's keyboard device at its first key,
    // and may lose that key: a Shift tapped now is the one lost.
    Keysym(XK_Shift_L, true);
    Keysym(XK_Shift_L, false);
    return Active();  // unless the desktop closed it while it was being started
}

void PortalKeys::Keysym(unsigned keysym, bool down) { Notify("NotifyKeyboardKeysym", keysym, down); }

void PortalKeys::Notify(const char* method, unsigned value, bool down) {
    if (!Active() || value == 0) return;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus_, kPortal, kPath, kRemoteDesktop, method,
        g_variant_new("(oa{sv}iu)", session_.c_str(), nullptr, static_cast<gint32>(value), down ? 1u : 0u),
        nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (reply) {
        g_variant_unref(reply);
        return;
    }
    g_printerr("vimbrel: the RemoteDesktop portal did not take a key: %s\n", error->message);
    g_error_free(error);
    Lost();
}

void PortalKeys::SetLocks(bool caps, bool num) {
    if (capsSent_ != caps) {
        Keysym(XK_Caps_Lock, true);
        Keysym(XK_Caps_Lock, false);
        capsSent_ = caps;
    }
    if (numSent_ != num) {
        Keysym(XK_Num_Lock, true);
        Keysym(XK_Num_Lock, false);
        numSent_ = num;
    }
}

void PortalKeys::FollowLocks(bool capsLock, bool numLock) {
    capsWanted_ = capsLock;
    numWanted_ = numLock;
}

void PortalKeys::Press(std::uint8_t vk, bool keypadEnter) {
    const ModifierKind kind = ModifierKindOf(vk);
    if (kind == ModifierKind::AroundKeys) {
        aroundKeys_[vk] = true;
        return;
    }
    SetLocks(capsWanted_, numWanted_);
    // The lock keys are the keyboard's own: sent just now, as their lights ask.
    if (vk == 20 || vk == 144 || down_[vk]) return;
    if (const unsigned code = KeypadDigitCode(vk)) {
        downCode_[vk] = code;
        Notify("NotifyKeyboardKeycode", code, true);
        return;
    }
    const unsigned keysym = resolve_(vk, keypadEnter ? kKeypadEnterKeysym : KeysymOf(vk));
    if (keysym == 0) return;
    if (kind == ModifierKind::Ordinary) {
        for (const std::uint8_t m : kAroundKeys) {
            if (!aroundKeys_[m] || down_[m]) continue;
            down_[m] = resolve_(m, KeysymOf(m));
            Keysym(down_[m], true);
        }
    }
    down_[vk] = keysym;
    Keysym(keysym, true);
}

void PortalKeys::Release(std::uint8_t vk) {
    const ModifierKind kind = ModifierKindOf(vk);
    if (kind == ModifierKind::AroundKeys) aroundKeys_[vk] = false;
    if (down_[vk]) Keysym(std::exchange(down_[vk], 0), false);
    if (downCode_[vk]) Notify("NotifyKeyboardKeycode", std::exchange(downCode_[vk], 0), false);
    if (kind == ModifierKind::Ordinary) {
        for (const std::uint8_t m : kAroundKeys)
            if (down_[m]) Keysym(std::exchange(down_[m], 0), false);
    }
}

// Nothing of ours stays down and the desktop's Caps Lock is as it was found,
// then the session is closed: every way out passes here.
void PortalKeys::ReleaseAllAndRestore() {
    for (unsigned& keysym : down_)
        if (keysym) Keysym(std::exchange(keysym, 0), false);
    for (unsigned& code : downCode_)
        if (code) Notify("NotifyKeyboardKeycode", std::exchange(code, 0), false);
    aroundKeys_.fill(false);
    SetLocks(false, false);
    Close();
}

// The session is gone under us: nothing can be let go through it any more.
// The owner hears of it from the main loop, never in the middle of a key.
void PortalKeys::Lost() {
    if (!Active()) return;
    session_.clear();
    down_.fill(0);
    downCode_.fill(0);
    capsSent_ = numSent_ = false;
    Close();
    if (lost_)
        g_idle_add_once([](gpointer self) {
            auto* keys = static_cast<PortalKeys*>(self);
            if (keys->lost_) std::exchange(keys->lost_, nullptr)();
        }, this);
}

void PortalKeys::Close() {
    if (closedWatch_) g_dbus_connection_signal_unsubscribe(bus_, std::exchange(closedWatch_, 0));
    if (portalWatch_) g_bus_unwatch_name(std::exchange(portalWatch_, 0));
    if (session_.empty()) return;
    GVariant* reply = g_dbus_connection_call_sync(bus_, kPortal, std::exchange(session_, std::string()).c_str(),
                                                  "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
}

}  // namespace vimbrel
