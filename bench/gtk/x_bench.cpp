// The native benchmark's hands and eyes on the X display, one command per line
// on standard input, the answer's lines then "done exit=N" on standard output
// (the same conversation as the Windows probe's):
//
//   start QUIET_MS PROGRAM [ARG...]
//       runs PROGRAM and watches its window from just before it is started:
//       from the time the window is mapped, each damage to it is timed and the
//       window read back, until no damage has come for QUIET_MS. Answers a line
//       "reading ms= picture=" per reading (ms since the start, a hash of the
//       pixels, 0 when they could not be read), then "started pid= window=
//       mapped_ms=".
//   end PID          ends a program started here (SIGTERM, then SIGKILL) and reaps it;
//                    at the end of the input every program still running is ended
//   origin WINDOW    "origin x= y= width= height=": the window's inside on the screen
//   focus            gives the input focus to the target, our own window
//   move X Y         moves the pointer (XTest)
//   click X Y SETTLE_MS KEYSYM TIMEOUT_MS
//       moves the pointer, waits SETTLE_MS, reads CLOCK_MONOTONIC and clicks the
//       left button (XTest); answers "clicked ms=" with the time until the
//       target's KeyPress of KEYSYM (ms=-1 when none came within TIMEOUT_MS).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

Display* g_display = nullptr;
Window g_target = None;
int g_damageEvent = 0;
std::set<pid_t> g_started;  // programs started here and not yet ended

double NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

// Waits for the next X event up to the deadline; false when none came.
bool NextEvent(XEvent* e, double deadlineMs) {
    while (!XPending(g_display)) {
        const double left = deadlineMs - NowMs();
        if (left <= 0) return false;
        pollfd p{ConnectionNumber(g_display), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left) + 1);
    }
    XNextEvent(g_display, e);
    return true;
}

long CardinalProperty(Window w, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long value = -1;
    if (XGetWindowProperty(g_display, w, XInternAtom(g_display, name, False), 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data && count == 1 && format == 32)
        value = *reinterpret_cast<long*>(data);
    if (data) XFree(data);
    return value;
}

// The window's picture as a hash of its pixels; 0 when it cannot be read.
std::uint64_t Picture(Window w) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(g_display, w, &a) || a.map_state != IsViewable) return 0;
    XImage* image = XGetImage(g_display, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (!image) return 0;
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
    const std::size_t size = static_cast<std::size_t>(image->bytes_per_line) * image->height;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<unsigned char>(image->data[i])) * 1099511628211ULL;
    XDestroyImage(image);
    return hash ? hash : 1;
}

struct Reading {
    double ms;
    std::uint64_t picture;
};

int Start(std::istringstream& in) {
    int quietMs = 0;
    in >> quietMs;
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty() || quietMs <= 0) {
        std::cout << "error what=usage\n";
        return 2;
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);  // our standard output is the conversation
    XSync(g_display, False);
    while (XPending(g_display)) {  // windows of earlier programs are not this one's
        XEvent e;
        XNextEvent(g_display, &e);
    }

    const double begin = NowMs();
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) {
        std::cout << "error what=spawn errno=" << failed << "\n";
        return 1;
    }
    g_started.insert(pid);
    std::set<Window> candidates;
    Window window = None;
    Damage damage = None;
    double mappedMs = -1;
    std::vector<Reading> readings;
    double quietFrom = 0;
    const double deadline = begin + 30000;
    for (;;) {
        XEvent e;
        const double until = window ? quietFrom + quietMs : deadline;
        if (!NextEvent(&e, std::min(until, deadline))) {
            if (window && NowMs() < deadline) break;  // quiet: the picture is complete
            std::cout << "error what=timeout pid=" << pid << " mapped=" << (window != None) << "\n";
            return 1;
        }
        const double at = NowMs();
        if (e.type == CreateNotify && e.xcreatewindow.parent == DefaultRootWindow(g_display) &&
            !e.xcreatewindow.override_redirect) {
            candidates.insert(e.xcreatewindow.window);
            XSelectInput(g_display, e.xcreatewindow.window, StructureNotifyMask);
            XWindowAttributes a{};
            // It may have been mapped before we listened to it.
            if (!window && XGetWindowAttributes(g_display, e.xcreatewindow.window, &a) && a.map_state == IsViewable) {
                e.type = MapNotify;
                e.xmap.window = e.xcreatewindow.window;
            }
        }
        if (e.type == MapNotify && !window && candidates.count(e.xmap.window) &&
            CardinalProperty(e.xmap.window, "_NET_WM_PID") == pid) {
            window = e.xmap.window;
            damage = XDamageCreate(g_display, window, XDamageReportNonEmpty);
            mappedMs = at - begin;
            readings.push_back({at - begin, Picture(window)});
            quietFrom = at;
        } else if (window && e.type == g_damageEvent + XDamageNotify &&
                   reinterpret_cast<XDamageNotifyEvent&>(e).damage == damage) {
            XDamageSubtract(g_display, damage, None, None);
            readings.push_back({at - begin, Picture(window)});
            quietFrom = at;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            g_started.erase(pid);
            std::cout << "error what=exited pid=" << pid << " status=" << status << "\n";
            return 1;
        }
    }
    XDamageDestroy(g_display, damage);
    for (const Window w : candidates)
        if (w != window) XSelectInput(g_display, w, NoEventMask);
    for (const Reading& r : readings)
        std::cout << "reading ms=" << r.ms << " picture=" << std::hex << r.picture << std::dec << "\n";
    std::cout << "started pid=" << pid << " window=0x" << std::hex << window << std::dec << " mapped_ms=" << mappedMs
              << "\n";
    return 0;
}

int End(pid_t pid) {
    if (!g_started.erase(pid)) {
        std::cout << "error what=not_ours\n";
        return 2;
    }
    kill(pid, SIGTERM);
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) != 0) {
            std::cout << "ended pid=" << pid << "\n";
            return 0;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::cout << "ended pid=" << pid << " killed\n";
    return 0;
}

int Origin(std::istringstream& in) {
    std::string text;
    in >> text;
    const Window w = std::strtoul(text.c_str(), nullptr, 0);
    XWindowAttributes a{};
    int x = 0, y = 0;
    Window child = None;
    if (!w || !XGetWindowAttributes(g_display, w, &a) ||
        !XTranslateCoordinates(g_display, w, a.root, 0, 0, &x, &y, &child)) {
        std::cout << "error what=no_window\n";
        return 1;
    }
    std::cout << "origin x=" << x << " y=" << y << " width=" << a.width << " height=" << a.height << "\n";
    return 0;
}

int Focus() {
    XRaiseWindow(g_display, g_target);
    XSetInputFocus(g_display, g_target, RevertToParent, CurrentTime);
    XSync(g_display, False);
    Window focus = None;
    int revert = 0;
    XGetInputFocus(g_display, &focus, &revert);
    std::cout << "focus ok=" << (focus == g_target) << "\n";
    return focus == g_target ? 0 : 1;
}

int Move(std::istringstream& in) {
    int x = 0, y = 0;
    in >> x >> y;
    XTestFakeMotionEvent(g_display, -1, x, y, CurrentTime);
    XSync(g_display, False);
    std::cout << "moved\n";
    return 0;
}

int Click(std::istringstream& in) {
    int x = 0, y = 0, settleMs = 0, timeoutMs = 0;
    std::string name;
    in >> x >> y >> settleMs >> name >> timeoutMs;
    const KeySym wanted = XStringToKeysym(name.c_str());
    if (wanted == NoSymbol) {
        std::cout << "error what=keysym\n";
        return 2;
    }
    XTestFakeMotionEvent(g_display, -1, x, y, CurrentTime);
    XSync(g_display, False);
    usleep(static_cast<useconds_t>(settleMs) * 1000);
    while (XPending(g_display)) {
        XEvent e;
        XNextEvent(g_display, &e);
    }
    const double begin = NowMs();
    XTestFakeButtonEvent(g_display, 1, True, CurrentTime);
    XTestFakeButtonEvent(g_display, 1, False, CurrentTime);
    XFlush(g_display);
    const double deadline = begin + timeoutMs;
    XEvent e;
    while (NextEvent(&e, deadline)) {
        if (e.type == KeyPress && e.xkey.window == g_target && XLookupKeysym(&e.xkey, 0) == wanted) {
            std::cout << "clicked ms=" << NowMs() - begin << "\n";
            return 0;
        }
    }
    std::cout << "clicked ms=-1\n";
    return 0;
}

}  // namespace

int main() {
    g_display = XOpenDisplay(nullptr);
    int damageError = 0, event = 0, error = 0, major = 0, minor = 0;
    if (!g_display || !XDamageQueryExtension(g_display, &g_damageEvent, &damageError) ||
        !XTestQueryExtension(g_display, &event, &error, &major, &minor)) {
        std::cout << "error what=display\ndone exit=2" << std::endl;
        return 2;
    }
    XSetErrorHandler(IgnoreErrors);  // windows vanish while we look at them
    XSelectInput(g_display, DefaultRootWindow(g_display), SubstructureNotifyMask);
    g_target = XCreateSimpleWindow(g_display, DefaultRootWindow(g_display), 20, 20, 200, 120, 0, 0,
                                   WhitePixel(g_display, DefaultScreen(g_display)));
    XStoreName(g_display, g_target, "VimbrelBenchTarget");
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = True;
    XSetWMHints(g_display, g_target, &hints);
    // Top left, where neither keyboard ever is: the window manager places it there.
    XSizeHints place{};
    place.flags = USPosition | USSize;
    place.x = 20;
    place.y = 20;
    place.width = 200;
    place.height = 120;
    XSetWMNormalHints(g_display, g_target, &place);
    XSelectInput(g_display, g_target, KeyPressMask | StructureNotifyMask);
    XMapWindow(g_display, g_target);
    // The window manager maps it; it can take the focus from then on.
    const double deadline = NowMs() + 10000;
    for (XEvent e; NextEvent(&e, deadline);)
        if (e.type == MapNotify && e.xmap.window == g_target) break;

    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "quit") break;
        int status = 2;
        if (command == "start") status = Start(in);
        else if (command == "end") {
            pid_t pid = 0;
            in >> pid;
            status = End(pid);
        }
        else if (command == "origin") status = Origin(in);
        else if (command == "focus") status = Focus();
        else if (command == "move") status = Move(in);
        else if (command == "click") status = Click(in);
        else std::cout << "error what=unknown_command\n";
        std::cout << "done exit=" << status << std::endl;
    }
    while (!g_started.empty()) End(*g_started.begin());
    XCloseDisplay(g_display);
    return 0;
}
