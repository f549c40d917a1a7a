// The virtual keyboard. Its one keymap is the US layout, made by
// libxkbcommon and handed over in a sealed memory file. The compositor does
// not work modifier state out from the keys it is sent (wlroots: the virtual
// keyboard's keys do not update its state): the state is the modifiers
// request's. So latched Shift and Ctrl are depressed modifiers from their
// press to their release, Alt and the Windows keys only around each other
// key, as on X11, and the keyboard's own Caps Lock and Num Lock lights are
// the locked modifiers. The keys themselves are still sent, for clients that
// watch them.
#include "platform/gtk/wayland_keys.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <glib.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "platform/gtk/keysyms.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace vimbrel {

namespace {

// Alt and the Windows keys, in the order they go down around a key.
constexpr std::uint8_t kAroundKeys[] = {164, 165, 91, 92};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    if (std::string_view(interface) == zwp_virtual_keyboard_manager_v1_interface.name)
        *static_cast<zwp_virtual_keyboard_manager_v1**>(data) = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
}

void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

// The keymap as a sealed memory file: the compositor and every client it
// passes it on to may map it, and none can change it.
int KeymapFile(const char* text, std::size_t size) {
    const int fd = memfd_create("vimbrel-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return -1;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, text + done, size - done);
        if (n <= 0) {
            close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    return fd;
}

// The key that types this keysym at the first level of the US layout; the
// keypad's digits and decimal point sit on its Num Lock level, which the
// locked Num Lock reaches, and are looked for there after the first.
std::uint32_t KeyWithSym(xkb_keymap* keymap, xkb_keysym_t sym) {
    for (xkb_level_index_t level = 0; level < 2; ++level) {
        for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap); ++code) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, level, &syms) >= 1 && syms[0] == sym)
                return code - 8;  // XKB key codes are the evdev ones plus 8
        }
    }
    return 0;
}

std::uint32_t Now() { return static_cast<std::uint32_t>(g_get_monotonic_time() / 1000); }

}  // namespace

WaylandKeys::WaylandKeys(wl_display* display, wl_seat* seat) : display_(display) {
    queue_ = wl_display_create_queue(display_);
    auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(display_));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), queue_);
    wl_registry* registry = wl_display_get_registry(wrapped);
    wl_proxy_wrapper_destroy(wrapped);
    wl_registry_add_listener(registry, &kRegistryListener, &manager_);
    wl_display_roundtrip_queue(display_, queue_);
    wl_registry_destroy(registry);
    if (!manager_ || !seat) return;
    keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat);

    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context) return;
    // Named in full: no XKB_DEFAULT_* of the environment may change it.
    const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    if (!keymap) return;
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    const std::size_t size = text ? std::strlen(text) + 1 : 0;
    const int fd = text ? KeymapFile(text, size) : -1;
    free(text);
    if (fd < 0) {
        xkb_keymap_unref(keymap);
        return;
    }
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<std::uint32_t>(size));
    close(fd);  // the request carried a copy of it
    keymap_ = keymap;

    for (const VkKeysym& row : kVkKeysyms) codes_[row.vk] = KeyWithSym(keymap_, row.keysym);
    keypadEnterCode_ = KeyWithSym(keymap_, kKeypadEnterKeysym);
    auto mask = [this](const char* name) {
        const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap_, name);
        return index == XKB_MOD_INVALID ? 0u : 1u << index;
    };
    shift_ = mask(XKB_MOD_NAME_SHIFT);
    control_ = mask(XKB_MOD_NAME_CTRL);
    alt_ = mask(XKB_MOD_NAME_ALT);
    logo_ = mask(XKB_MOD_NAME_LOGO);
    lock_ = mask(XKB_MOD_NAME_CAPS);
    num_ = mask(XKB_MOD_NAME_NUM);
    // The keyboard starts with its Num Lock lit and nothing held.
    locked_ = num_;
    SendModifiers();
    wl_display_roundtrip_queue(display_, queue_);  // an unauthorised client is told so by now
}

WaylandKeys::~WaylandKeys() {
    ReleaseAllAndRestore();
    if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
    if (manager_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager_));
    wl_display_flush(display_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (queue_) wl_event_queue_destroy(queue_);
}

std::uint32_t WaylandKeys::CodeOf(std::uint8_t vk, bool keypadEnter) const {
    return keypadEnter ? keypadEnterCode_ : codes_[vk];
}

std::uint32_t WaylandKeys::ModifierOf(std::uint8_t vk) const {
    switch (vk) {
    case 160: case 161: return shift_;
    case 162: case 163: return control_;
    case 164: case 165: return alt_;
    case 91: case 92:   return logo_;
    default:            return 0;
    }
}

void WaylandKeys::Key(std::uint32_t code, bool down) {
    zwp_virtual_keyboard_v1_key(keyboard_, Now(), code,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void WaylandKeys::SendModifiers() {
    if (!keyboard_ || (sent_[0] == depressed_ && sent_[1] == locked_)) return;
    zwp_virtual_keyboard_v1_modifiers(keyboard_, depressed_, 0, locked_, 0);
    sent_[0] = depressed_;
    sent_[1] = locked_;
}

void WaylandKeys::FollowLocks(bool capsLock, bool numLock) {
    locked_ = (capsLock ? lock_ : 0) | (numLock ? num_ : 0);
}

void WaylandKeys::Press(std::uint8_t vk, bool keypadEnter) {
    if (!Ready()) return;
    const ModifierKind kind = ModifierKindOf(vk);
    if (kind == ModifierKind::AroundKeys) {
        aroundKeys_[vk] = true;
        return;
    }
    const std::uint32_t code = CodeOf(vk, keypadEnter);
    if (code == 0 || down_[vk]) return;
    if (kind == ModifierKind::Ordinary) {
        for (const std::uint8_t m : kAroundKeys) {
            if (!aroundKeys_[m] || down_[m] || !codes_[m]) continue;
            down_[m] = codes_[m];
            Key(down_[m], true);
            depressed_ |= ModifierOf(m);
        }
    }
    down_[vk] = code;
    depressed_ |= ModifierOf(vk);
    // The state first: the key is read in it.
    SendModifiers();
    Key(code, true);
    wl_display_flush(display_);
}

void WaylandKeys::Release(std::uint8_t vk) {
    if (!Ready()) return;
    const ModifierKind kind = ModifierKindOf(vk);
    if (kind == ModifierKind::AroundKeys) aroundKeys_[vk] = false;
    if (down_[vk]) {
        Key(std::exchange(down_[vk], 0), false);
        depressed_ &= ~ModifierOf(vk);
    }
    if (kind == ModifierKind::Ordinary) {
        for (const std::uint8_t m : kAroundKeys) {
            if (!down_[m]) continue;
            Key(std::exchange(down_[m], 0), false);
            depressed_ &= ~ModifierOf(m);
        }
    }
    SendModifiers();
    wl_display_flush(display_);
}

// Nothing of ours stays down, and no lock of ours stays on.
void WaylandKeys::ReleaseAllAndRestore() {
    if (!Ready()) return;
    for (std::uint32_t& code : down_)
        if (code) Key(std::exchange(code, 0), false);
    aroundKeys_.fill(false);
    depressed_ = locked_ = 0;
    SendModifiers();
    wl_display_flush(display_);
}

}  // namespace vimbrel
