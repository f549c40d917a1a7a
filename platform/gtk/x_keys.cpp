// XTest injection. Each keysym is looked up at the first level of the current
// XKB group, so that the key types its US symbol whatever modifiers the
// layout would need to reach it elsewhere; a keypad digit is its keypad key,
// on whose Num Lock level it sits. A keysym the layout lacks (a Latin letter
// under a Russian layout) is bound to a keycode the layout leaves empty; the
// keycode is emptied again on the way out.
#include "platform/gtk/x_keys.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <utility>

#include "captions/caption_tables.h"
#include "layout/key_table.h"
#include "layout/physical_keys.h"
#include "platform/gtk/keysyms.h"
#include "window/controls.h"

namespace vimbrel {

namespace {

// Every code an array element sends, and every editing key the keypad
// translates to, has its keysym. (The single buttons' codes are the locks'
// and the keypad Enter's and Applications key's own.)
constexpr bool EveryCodeHasAKeysym() {
    for (const KeyDef& k : kKeys)
        if (ControlInfo(k.key.control).isArray && KeysymOf(static_cast<std::uint8_t>(k.key.index)) == 0) return false;
    for (const KeypadFunction& f : kKeypadFunctions)
        if (f.editingKey != 0 && KeysymOf(static_cast<std::uint8_t>(f.editingKey)) == 0) return false;
    return true;
}
static_assert(EveryCodeHasAKeysym());

XKeys* g_keys = nullptr;  // for the rescue after the connection is lost

// The record on the root window of what the keyboard holds down and which
// keycodes it borrowed, kept current with every change, so that a keyboard
// started after a crash can undo them: the keycodes down, then a pair
// (keycode, keysym) per binding, after their count.
constexpr char kRecordName[] = "_VIMBREL_HELD_KEYS";

Atom RecordAtom(Display* display) { return XInternAtom(display, kRecordName, False); }

// Alt and the Windows keys, in the order they go down around a key.
constexpr std::uint8_t kAroundKeys[] = {164, 165, 91, 92};

class ErrorTrap {
public:
    ErrorTrap() { gdk_x11_display_error_trap_push(gdk_display_get_default()); }
    ~ErrorTrap() { gdk_x11_display_error_trap_pop_ignored(gdk_display_get_default()); }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
};

KeySym FirstLevelSym(XkbDescPtr map, int code, int group) {
    const int groups = XkbKeyNumGroups(map, code);
    if (groups == 0) return NoSymbol;
    const int g = group < groups ? group : group % groups;  // groups wrap, as XKB's default
    if (XkbKeyGroupWidth(map, code, g) == 0) return NoSymbol;
    return XkbKeySymEntry(map, code, 0, g);
}

bool HasSym(XkbDescPtr map, int code, int group, KeySym keysym) {
    const int groups = XkbKeyNumGroups(map, code);
    if (groups == 0) return false;
    const int g = group < groups ? group : group % groups;
    for (int level = 0; level < XkbKeyGroupWidth(map, code, g); ++level)
        if (XkbKeySymEntry(map, code, level, g) == keysym) return true;
    return false;
}

bool CodeIsEmpty(XkbDescPtr map, int code) {
    const int n = XkbKeyNumSyms(map, code);
    for (int i = 0; i < n; ++i)
        if (XkbKeySymsPtr(map, code)[i] != NoSymbol) return false;
    return true;
}

}  // namespace

XKeys::XKeys(Display* display) : display_(display), record_(RecordAtom(display)) {
    int event, error, major, minor;
    haveXTest_ = XTestQueryExtension(display_, &event, &error, &major, &minor);
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (XkbQueryExtension(display_, &opcode, &event, &error, &major, &minor)) {
        xkbEvent_ = event;
        constexpr unsigned long kMapEvents = XkbMapNotifyMask | XkbNewKeyboardNotifyMask | XkbIndicatorStateNotifyMask;
        XkbSelectEvents(display_, XkbUseCoreKbd, kMapEvents, kMapEvents);
        XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask, XkbGroupStateMask);
    }
    const char* names[] = {"Caps Lock", "Num Lock", "Scroll Lock"};
    for (std::size_t i = 0; i < lockIndicators_.size(); ++i) lockIndicators_[i] = XInternAtom(display_, names[i], False);
    g_keys = this;
}

XKeys::~XKeys() {
    if (map_) XkbFreeKeyboard(map_, 0, True);
    if (g_keys == this) g_keys = nullptr;
}

void XKeys::KeymapChanged() {
    if (map_) XkbFreeKeyboard(map_, 0, True);
    map_ = nullptr;
}

// X announces a new layout (setxkbmap) as a new keyboard, and a change of some
// keys as a new map; either way the map is read again when next needed. GDK's
// "keys-changed" is not listened to: it also comes after state changes that
// leave the map as it was, and reading the whole map again costs a click two
// round trips. The group is taken from the state notifications rather than
// asked for at every key.
bool XKeys::Hear(const XEvent& event) {
    if (xkbEvent_ < 0 || event.type != xkbEvent_) return false;
    switch (reinterpret_cast<const XkbEvent&>(event).any.xkb_type) {
    case XkbStateNotify:
        group_ = reinterpret_cast<const XkbEvent&>(event).state.group;
        break;
    case XkbMapNotify:
    case XkbNewKeyboardNotify:
        KeymapChanged();
        group_ = -1;
        break;
    case XkbIndicatorStateNotify:
        return true;
    }
    return false;
}

LockState XKeys::Locks() const {
    std::array<Bool, 3> on{};
    for (std::size_t i = 0; i < on.size(); ++i)
        if (!XkbGetNamedIndicator(display_, lockIndicators_[i], nullptr, &on[i], nullptr, nullptr)) on[i] = False;
    return {on[0] != False, on[1] != False, on[2] != False};
}

bool XKeys::WatchPhysicalKeys(Window root) {
    int event = 0, error = 0;
    if (!XQueryExtension(display_, "XInputExtension", &xiOpcode_, &event, &error)) {
        xiOpcode_ = -1;
        return false;
    }
    // GTK has already announced the version it speaks (X refuses a lower one
    // later): ask for the same, or learn that X has no XInput 2.
    int major = 2, minor = 3;
    Status version = BadRequest;
    {
        ErrorTrap trap;
        version = XIQueryVersion(display_, &major, &minor);
    }
    if (version != Success || major < 2) {
        xiOpcode_ = -1;
        return false;
    }
    // The master devices only: each key comes once, whichever keyboard it came from.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display_, root, &mask, 1);
    return true;
}

std::optional<RawKey> XKeys::PhysicalKey(const XEvent& event) {
    if (xiOpcode_ < 0 || event.type != GenericEvent || event.xcookie.extension != xiOpcode_) return std::nullopt;
    const int type = event.xcookie.evtype;
    if ((type != XI_RawKeyPress && type != XI_RawKeyRelease) || !event.xcookie.data) return std::nullopt;
    const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
    const bool down = type == XI_RawKeyPress;
    if (IsEcho(raw->detail, down)) return std::nullopt;
    return RawKey{raw->detail, down};
}

// Our own events come back in the order sent; one that has not come back within
// a second never will (another client's grab, a server that dropped it).
bool XKeys::IsEcho(int keycode, bool down) {
    const auto now = std::chrono::steady_clock::now();
    while (!echoes_.empty() && now - echoes_.front().at > std::chrono::seconds(1)) echoes_.pop_front();
    if (echoes_.empty() || echoes_.front().keycode != keycode || echoes_.front().down != down) return false;
    echoes_.pop_front();
    return true;
}

void XKeys::Fake(KeyCode code, bool down) {
    if (!haveXTest_ || !code) return;
    XTestFakeKeyEvent(display_, code, down ? True : False, CurrentTime);
    if (xiOpcode_ >= 0) echoes_.push_back({code, down, std::chrono::steady_clock::now()});
}

bool XKeys::CodeIsDown(KeyCode code) const { return std::find(down_.begin(), down_.end(), code) != down_.end(); }

bool XKeys::ReadMap() {
    if (!map_) map_ = XkbGetMap(display_, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (!map_) return false;
    if (group_ < 0) {
        XkbStateRec state{};
        XkbGetState(display_, XkbUseCoreKbd, &state);
        group_ = state.group;
    }
    return true;
}

KeySym XKeys::OnLayout(std::uint8_t vk, KeySym keysym) {
    if (!ReadMap()) return keysym;  // nothing to go by: as it is
    for (int code = map_->min_key_code; code <= map_->max_key_code; ++code)
        if (HasSym(map_, code, group_, keysym)) return keysym;
    for (const auto& p : kPhysicalKeys)
        if (VirtualKeyOf(p.key) == vk && p.evdev + 8 <= map_->max_key_code)
            return FirstLevelSym(map_, p.evdev + 8, group_);
    return NoSymbol;
}

KeyCode XKeys::CodeFor(KeySym keysym) {
    if (!ReadMap()) return 0;
    for (int code = map_->min_key_code; code <= map_->max_key_code; ++code)
        if (FirstLevelSym(map_, code, group_) == keysym) return static_cast<KeyCode>(code);
    // A keypad digit sits on its key's Num Lock level: that key, and X applies
    // its own Num Lock, as it does to the physical key.
    if (IsKeypadKey(keysym)) {
        for (int code = map_->min_key_code; code <= map_->max_key_code; ++code)
            if (HasSym(map_, code, group_, keysym)) return static_cast<KeyCode>(code);
    }
    return BindSpareCode(keysym);
}

// A keycode without symbols takes the keysym with its upper case on the shift
// level, so latched Shift and Caps Lock work on it as on any letter.
KeyCode XKeys::BindSpareCode(KeySym keysym) {
    KeyCode spare = 0;
    for (int code = map_->max_key_code; code >= map_->min_key_code && !spare; --code)
        if (CodeIsEmpty(map_, code) && !CodeIsDown(static_cast<KeyCode>(code))) spare = static_cast<KeyCode>(code);
    if (spare) {
        bindings_.push_back({spare, keysym});
    } else {
        // Every empty keycode holds one of ours: the binding used longest ago gives way.
        const auto free = std::find_if(bindings_.begin(), bindings_.end(),
                                       [this](const Binding& b) { return !CodeIsDown(b.code); });
        if (free == bindings_.end()) return 0;
        spare = free->code;
        bindings_.erase(free);
        bindings_.push_back({spare, keysym});
    }
    Record();  // before the keycode changes: a crash right after it still finds the binding
    KeySym lower = keysym, upper = keysym;
    XConvertCase(keysym, &lower, &upper);
    KeySym syms[2] = {keysym, upper != keysym ? upper : NoSymbol};
    {
        ErrorTrap trap;
        XChangeKeyboardMapping(display_, spare, 2, syms, 1);
    }
    KeymapChanged();
    return spare;
}

void XKeys::Press(std::uint8_t vk, bool keypadEnter) {
    const ModifierKind kind = ModifierKindOf(vk);
    if (kind == ModifierKind::AroundKeys) {
        aroundKeys_[vk] = true;
        return;
    }
    const KeySym keysym = keypadEnter ? kKeypadEnterKeysym : KeysymOf(vk);
    if (keysym == NoSymbol || down_[vk]) return;
    if (kind == ModifierKind::Ordinary) {
        for (const std::uint8_t m : kAroundKeys) {
            if (!aroundKeys_[m] || down_[m]) continue;
            down_[m] = CodeFor(KeysymOf(m));
        }
    }
    down_[vk] = CodeFor(keysym);
    // Only a latched Shift or Ctrl stays down past the click that pressed it;
    // every other key goes up again before the keyboard handles another event.
    if (kind == ModifierKind::Held) Record();
    if (kind == ModifierKind::Ordinary) {
        for (const std::uint8_t m : kAroundKeys)
            if (aroundKeys_[m] && down_[m]) Fake(down_[m], true);
    }
    Fake(down_[vk], true);
    XFlush(display_);
}

void XKeys::Release(std::uint8_t vk) {
    const ModifierKind kind = ModifierKindOf(vk);
    if (kind == ModifierKind::AroundKeys) aroundKeys_[vk] = false;
    if (down_[vk]) Fake(std::exchange(down_[vk], 0), false);
    if (kind == ModifierKind::Ordinary) {
        for (const std::uint8_t m : kAroundKeys)
            if (down_[m]) Fake(std::exchange(down_[m], 0), false);
    }
    if (kind == ModifierKind::Held) Record();
    XFlush(display_);
}

void XKeys::Record() const {
    std::vector<long> record;
    for (const KeyCode code : down_)
        if (code) record.push_back(code);
    record.insert(record.begin(), static_cast<long>(record.size()));
    for (const Binding& b : bindings_) {
        record.push_back(b.code);
        record.push_back(static_cast<long>(b.keysym));
    }
    if (record.size() == 1) {
        XDeleteProperty(display_, DefaultRootWindow(display_), record_);
        return;
    }
    XChangeProperty(display_, DefaultRootWindow(display_), record_, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(record.data()), static_cast<int>(record.size()));
}

void XKeys::RecoverAbandoned(Display* display) {
    const Atom atom = RecordAtom(display);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), atom, 0, 1024, True, XA_CARDINAL, &type, &format,
                           &count, &after, &data) != Success)
        return;
    const auto* record = reinterpret_cast<const long*>(data);
    if (type == XA_CARDINAL && format == 32 && count > 0) {
        std::array<KeyCode, 256> down{};
        const unsigned long held = std::min<unsigned long>(static_cast<unsigned long>(record[0]), count - 1);
        for (unsigned long i = 0; i < held && i < down.size(); ++i) down[i] = static_cast<KeyCode>(record[1 + i]);
        std::vector<Binding> bindings;
        for (unsigned long i = 1 + held; i + 1 < count; i += 2)
            bindings.push_back({static_cast<KeyCode>(record[i]), static_cast<KeySym>(record[i + 1])});
        Undo(display, down, bindings);
    }
    if (data) XFree(data);
}

void XKeys::Undo(Display* display, const std::array<KeyCode, 256>& down, const std::vector<Binding>& bindings) {
    for (const KeyCode code : down)
        if (code) XTestFakeKeyEvent(display, code, False, CurrentTime);
    // A binding is undone only where the keycode still holds it: a layout
    // loaded since has put its own symbols there.
    for (const Binding& b : bindings) {
        int perCode = 0;
        KeySym* syms = XGetKeyboardMapping(display, b.code, 1, &perCode);
        const bool ours = syms && perCode > 0 && syms[0] == b.keysym;
        if (syms) XFree(syms);
        if (!ours) continue;
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(display, b.code, 1, &none, 1);
    }
    XSync(display, False);
}

void XKeys::ReleaseAllAndRestore() {
    {
        ErrorTrap trap;
        Undo(display_, down_, bindings_);
    }
    down_.fill(0);
    aroundKeys_.fill(false);
    bindings_.clear();
    Record();
    XSync(display_, False);
    KeymapChanged();
}

void XKeys::RescueAfterConnectionLoss(const char* displayName) {
    if (!g_keys) return;
    Display* fresh = XOpenDisplay(displayName);
    if (!fresh) return;
    // No error may end the rescue half way: each step stands on its own.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    Undo(fresh, g_keys->down_, g_keys->bindings_);
    XDeleteProperty(fresh, DefaultRootWindow(fresh), RecordAtom(fresh));
    XCloseDisplay(fresh);
}

}  // namespace vimbrel
