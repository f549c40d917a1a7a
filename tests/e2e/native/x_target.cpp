// The native end-to-end tests' X client: a window that records what it
// receives, and a few queries of the display's keyboard.
//
//   x_target record LOG      a window that logs its key and focus events to LOG
//   x_target keys            the keycodes now down on the display, or "none"
//   x_target keysyms CODE    the keysyms of a keycode in the core map, or "none"
//   x_target close WINDOW    asks a window to close, as its close button does
//   x_target resources TEXT  replaces the display's X resources (Xft.dpi, ...)
//   x_target physical KEYSYM down|up
//                            the key pressed or let go on a keyboard of its own, as a
//                            physical one is: not the XTest device that xdotool and
//                            the keyboard under test share
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* FocusMode(int mode) {
    switch (mode) {
    case NotifyNormal:       return "normal";
    case NotifyGrab:         return "grab";
    case NotifyUngrab:       return "ungrab";
    case NotifyWhileGrabbed: return "while_grabbed";
    default:                 return "other";
    }
}

int Record(Display* display, const char* path) {
    FILE* log = std::fopen(path, "w");
    if (!log) return 2;
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 100, 100, 400, 300, 0, 0,
                                              WhitePixel(display, DefaultScreen(display)));
    XStoreName(display, window, "VimbrelXTarget");
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = True;
    XSetWMHints(display, window, &hints);
    XSelectInput(display, window, KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask);
    XMapWindow(display, window);
    for (;;) {
        XEvent e;
        XNextEvent(display, &e);
        switch (e.type) {
        case MapNotify:
            std::fprintf(log, "ready window=0x%lx\n", window);
            break;
        case KeyPress:
        case KeyRelease: {
            char text[16] = {};
            KeySym sym = NoSymbol;
            const int n = XLookupString(&e.xkey, text, sizeof text - 1, &sym, nullptr);
            std::string hex;
            for (int i = 0; i < n; ++i) {
                char byte[3];
                std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(text[i]));
                hex += byte;
            }
            std::fprintf(log, "key %s keycode=%u sym=%s state=0x%x text=%s\n", e.type == KeyPress ? "press" : "release",
                         e.xkey.keycode, sym ? XKeysymToString(sym) : "none", e.xkey.state, hex.c_str());
            break;
        }
        case FocusIn:
        case FocusOut:
            std::fprintf(log, "focus %s mode=%s\n", e.type == FocusIn ? "in" : "out", FocusMode(e.xfocus.mode));
            break;
        case MappingNotify:
            XRefreshKeyboardMapping(&e.xmapping);
            std::fprintf(log, "mapping\n");
            break;
        }
        std::fflush(log);
    }
}

int Keys(Display* display) {
    char keys[32];
    XQueryKeymap(display, keys);
    bool any = false;
    for (int code = 0; code < 256; ++code)
        if (keys[code / 8] & (1 << (code % 8))) std::printf("%s%d", any ? " " : "", code), any = true;
    std::puts(any ? "" : "none");
    return 0;
}

int Keysyms(Display* display, int code) {
    int perCode = 0;
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(code), 1, &perCode);
    bool any = false;
    for (int i = 0; syms && i < perCode; ++i)
        if (syms[i] != NoSymbol) std::printf("%s%s", any ? " " : "", XKeysymToString(syms[i])), any = true;
    std::puts(any ? "" : "none");
    if (syms) XFree(syms);
    return 0;
}

int Close(Display* display, Window window) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &e);
    XSync(display, False);
    return 0;
}

int Resources(Display* display, const char* text) {
    XChangeProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text), static_cast<int>(std::strlen(text)));
    XSync(display, False);
    return 0;
}

// The XTest keyboard of a master device of our own (X lets no XTest device
// move to another master): its keys reach the display as a second keyboard's.
constexpr char kPhysicalMaster[] = "vimbrel physical";
constexpr char kPhysicalKeyboard[] = "vimbrel physical XTEST keyboard";

int DeviceId(Display* display, const char* name) {
    int count = 0, id = -1;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int i = 0; i < count && id < 0; ++i)
        if (std::strcmp(devices[i].name, name) == 0) id = devices[i].deviceid;
    XIFreeDeviceInfo(devices);
    return id;
}

int Physical(Display* display, const char* name, bool down) {
    int opcode = 0, event = 0, error = 0, major = 2, minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success)
        return 2;
    int keyboard = DeviceId(display, kPhysicalKeyboard);
    if (keyboard < 0) {
        XIAddMasterInfo add{XIAddMaster, const_cast<char*>(kPhysicalMaster), True, True};
        XIChangeHierarchy(display, reinterpret_cast<XIAnyHierarchyChangeInfo*>(&add), 1);
        XSync(display, False);
        keyboard = DeviceId(display, kPhysicalKeyboard);
    }
    const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(name));
    XDevice* device = keyboard < 0 || !code ? nullptr : XOpenDevice(display, static_cast<XID>(keyboard));
    if (!device) return 1;
    XTestFakeDeviceKeyEvent(display, device, code, down ? True : False, nullptr, 0, CurrentTime);
    XSync(display, False);
    XCloseDevice(display, device);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 2;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc == 3) return Record(display, argv[2]);
    if (mode == "keys") return Keys(display);
    if (mode == "keysyms" && argc == 3) return Keysyms(display, std::atoi(argv[2]));
    if (mode == "close" && argc == 3) return Close(display, std::strtoul(argv[2], nullptr, 0));
    if (mode == "resources" && argc == 3) return Resources(display, argv[2]);
    if (mode == "physical" && argc == 4) return Physical(display, argv[2], std::strcmp(argv[3], "down") == 0);
    std::fputs("usage: x_target record LOG | keys | keysyms CODE | close WINDOW | resources TEXT | "
               "physical KEYSYM down|up\n", stderr);
    return 2;
}
