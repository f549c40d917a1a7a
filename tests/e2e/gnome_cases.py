#!/usr/bin/python3
"""End-to-end cases of the native keyboard on GNOME's compositor, run by e2e.py.

Each case starts a headless mutter of its own on a session bus of its own
(private HOME and XDG_RUNTIME_DIR), with xdg-desktop-portal and its GNOME
backend started by that bus, and PipeWire for the screen. mutter runs the
keyboard's window through Xwayland; its keys go through the RemoteDesktop
portal into `cat` in foot, a Wayland client, whose exact bytes are compared.
The cases click through mutter's own RemoteDesktop pointer (Mouse below),
see the screen through its ScreenCast (a PNG per look, gst-launch), and find
the keyboard's window through X. The portal's dialog is answered with the
same pointer.
"""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import gi

gi.require_version("Gio", "2.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, Gio, GLib  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session as sessionlib  # noqa: E402
from harness import KEYBOARD_TITLE, CaseFailure, CaseRun, check  # noqa: E402
from native_cases import LAYOUT, pixels, wait_for  # noqa: E402

WIDTH, HEIGHT = 1280, 1024
BTN_LEFT = 0x110
MONITOR = "Meta-0"  # mutter's name for its virtual monitor


def _call(bus, name, path, interface, method, args=None, reply=None):
    return bus.call_sync(name, path, interface, method, args, GLib.VariantType(reply) if reply else None,
                         Gio.DBusCallFlags.NONE, 10000, None)


class Mouse:
    """mutter's own remote desktop: a pointer moved to absolute points of its
    monitor, and a screen cast of that monitor to take pictures of."""

    def __init__(self, bus):
        self.bus = bus
        rd = "org.gnome.Mutter.RemoteDesktop"
        self.session = _call(bus, rd, "/org/gnome/Mutter/RemoteDesktop", rd, "CreateSession",
                             reply="(o)").unpack()[0]
        session_id = _call(bus, rd, self.session, "org.freedesktop.DBus.Properties", "Get",
                           GLib.Variant("(ss)", (rd + ".Session", "SessionId")), "(v)").unpack()[0]
        sc = "org.gnome.Mutter.ScreenCast"
        cast = _call(bus, sc, "/org/gnome/Mutter/ScreenCast", sc, "CreateSession",
                     GLib.Variant("(a{sv})", ({"remote-desktop-session-id": GLib.Variant("s", session_id)},)),
                     "(o)").unpack()[0]
        self.stream = _call(bus, sc, cast, sc + ".Session", "RecordMonitor",
                            GLib.Variant("(sa{sv})", (MONITOR, {"cursor-mode": GLib.Variant("u", 1)})), "(o)").unpack()[0]
        self.node = None

        def on_stream(_bus, _sender, _path, _iface, _signal, params):
            self.node = params.unpack()[0]
        watch = bus.signal_subscribe(sc, sc + ".Stream", "PipeWireStreamAdded", self.stream, None,
                                     Gio.DBusSignalFlags.NONE, on_stream)
        _call(bus, rd, self.session, rd + ".Session", "Start")
        context = GLib.MainContext.default()
        deadline = time.monotonic() + 10
        while self.node is None and time.monotonic() < deadline:
            context.iteration(False) or time.sleep(0.02)
        bus.signal_unsubscribe(watch)
        check(self.node is not None, "mutter's screen cast gave no PipeWire stream")

    def _notify(self, method, args):
        _call(self.bus, "org.gnome.Mutter.RemoteDesktop", self.session,
              "org.gnome.Mutter.RemoteDesktop.Session", method, args)

    def move(self, x, y):
        self._notify("NotifyPointerMotionAbsolute", GLib.Variant("(sdd)", (self.stream, x, y)))
        time.sleep(0.05)

    def click(self, x, y):
        """From a pixel beside: the window under the pointer sees it come in."""
        self.move(x - 1, y)
        self.move(x, y)
        for pressed in (True, False):
            self._notify("NotifyPointerButton", GLib.Variant("(ib)", (BTN_LEFT, pressed)))
            time.sleep(0.05)

    def tap_shift(self):
        """A headless seat has no keyboard until some virtual one exists, and
        the first key of a new one can be lost: this gives it one."""
        for pressed in (True, False):
            self._notify("NotifyKeyboardKeysym", GLib.Variant("(ub)", (0xffe1, pressed)))

    def type_keysym(self, keysym):
        for pressed in (True, False):
            self._notify("NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym, pressed)))

    def close(self):
        try:
            _call(self.bus, "org.gnome.Mutter.RemoteDesktop", self.session,
                  "org.gnome.Mutter.RemoteDesktop.Session", "Stop")
        except GLib.Error:
            pass


class Gnome(CaseRun):
    """One case's bus, PipeWire, headless mutter, foot and keyboard; all ended at the end."""

    def __init__(self, out_dir, case):
        super().__init__(out_dir, case, "tests/e2e/native/x_target")
        self.x_target, = self.helpers
        self.typed_path = os.path.join(self.dir, "typed.bin")
        self.mouse = self.bus = self.foot = None
        self.shots = 0

    def __enter__(self):
        try:
            self._start()
            return self
        except BaseException:
            self.__exit__()
            raise

    def _start(self):
        self.runtime = tempfile.mkdtemp(prefix="vimbrel-mutter-")
        home = os.path.join(self.runtime, "home")
        os.makedirs(home)
        env = sessionlib.clean_environment()
        env.update(HOME=home, XDG_RUNTIME_DIR=self.runtime, XDG_CURRENT_DESKTOP="GNOME",
                   XDG_SESSION_TYPE="wayland", WAYLAND_DISPLAY="vimbrel-mutter",
                   GSETTINGS_BACKEND="memory", NO_AT_BRIDGE="1", GTK_A11Y="none")
        address = "unix:path=" + os.path.join(self.runtime, "bus")
        env["DBUS_SESSION_BUS_ADDRESS"] = address
        self.env = env
        self.spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address], "dbus")
        wait_for("the session bus", lambda: os.path.exists(os.path.join(self.runtime, "bus")))
        self.spawn(["pipewire"], "pipewire")
        self.spawn(["wireplumber"], "wireplumber")
        mutter_log = os.path.join(self.dir, "mutter.out")
        self.spawn(["mutter", "--headless", "--wayland", "--virtual-monitor", "%dx%d" % (WIDTH, HEIGHT),
                    "--wayland-display=" + env["WAYLAND_DISPLAY"]], "mutter")

        def x_display():
            with open(mutter_log, encoding="utf-8", errors="replace") as f:
                found = re.search(r"Using public X11 display (:\d+)", f.read())
            auth = glob.glob(os.path.join(self.runtime, ".mutter-Xwaylandauth.*"))
            return found and auth and (found.group(1), auth[0])
        display, auth = wait_for("mutter and its Xwayland", x_display, timeout=20)
        env.update(DISPLAY=display, XAUTHORITY=auth)
        self.bus = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)
        wait_for("mutter's remote desktop", lambda: self.bus_has("org.gnome.Mutter.RemoteDesktop"))
        self.mouse = Mouse(self.bus)

    def __exit__(self, *exc):
        if self.mouse:
            self.mouse.close()
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
            proc.wait()
        # What the bus started for us (the portals, their stores) ends with
        # it; any that does not is found by the runtime folder it was given.
        time.sleep(0.2)
        for pid in _processes_with(getattr(self, "runtime", None)):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if getattr(self, "runtime", None):
            shutil.rmtree(self.runtime, ignore_errors=True)
        return False

    # --- programs --------------------------------------------------------------

    def run(self, *argv):
        return subprocess.run([str(a) for a in argv], env=self.env, capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=20).stdout

    def end(self, name):
        """Ends the program that owns this name on the bus, which the bus started."""
        pid = _call(self.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "GetConnectionUnixProcessID", GLib.Variant("(s)", (name,)), "(u)").unpack()[0]
        os.kill(pid, signal.SIGTERM)

    def x_window(self, title):
        """The id of an X window with this title, or None."""
        for line in self.run("xwininfo", "-root", "-tree").splitlines():
            found = re.match(r'\s*(0x[0-9a-f]+) "%s":' % re.escape(title), line)
            if found:
                return found.group(1)
        return None

    def bus_has(self, name):
        return _call(self.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                     "NameHasOwner", GLib.Variant("(s)", (name,)), "(b)").unpack()[0]

    def start_foot(self):
        """foot, with WAYLAND_DEBUG: its log shows every keyboard focus it gets and loses."""
        self.foot = self.spawn(["foot", "sh", "-c", "stty raw -echo; exec cat > %s" % self.typed_path], "foot",
                               dict(self.env, WAYLAND_DEBUG="client"))
        wait_for("foot", lambda: os.path.exists(self.typed_path))
        self.mouse.tap_shift()
        wait_for("foot with the keyboard focus", lambda: self.foot_focus()[0] > 0)
        time.sleep(0.3)  # cat is reading once stty has run

    def foot_focus(self):
        """How often foot was given and how often it lost the keyboard focus."""
        with open(os.path.join(self.dir, "foot.out"), encoding="utf-8", errors="replace") as f:
            log = f.read()
        return log.count("wl_keyboard@") and len(re.findall(r"wl_keyboard@\d+\.enter\(", log)), \
            len(re.findall(r"wl_keyboard@\d+\.leave\(", log))

    def start_keyboard(self):
        """foot, then the keyboard, up to the portal's dialog, which takes the focus."""
        self.start_foot()
        self.keyboard = self.spawn([self.keyboard_exe], "vimbrel")
        wait_for("the portal's dialog", lambda: self.foot_focus()[1] > 0)
        time.sleep(1)  # drawn

    def typed(self):
        with open(self.typed_path, "rb") as f:
            return f.read()

    # --- the screen --------------------------------------------------------------

    def shot(self, name=None):
        """The monitor as a GdkPixbuf, kept as a PNG in the case's folder."""
        self.shots += 1
        path = os.path.join(self.dir, "%02d-%s.png" % (self.shots, name or "shot"))
        subprocess.run(["gst-launch-1.0", "-q", "pipewiresrc", "path=%d" % self.mouse.node, "num-buffers=1",
                        "!", "videoconvert", "!", "pngenc", "!", "filesink", "location=" + path],
                       env=self.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=20)
        check(os.path.exists(path) and os.path.getsize(path) > 0, "no picture of the screen")
        return GdkPixbuf.Pixbuf.new_from_file(path)

    def keyboard_origin(self):
        """The top-left corner of the keyboard window's client area, from X."""
        out = subprocess.run(["xwininfo", "-root", "-tree"], env=self.env, capture_output=True, text=True,
                             timeout=10).stdout
        for line in out.splitlines():
            if '"%s"' % KEYBOARD_TITLE in line:
                found = re.search(r"\d+x\d+\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)", line)
                if found:
                    return int(found.group(1)), int(found.group(2))
        return None

    # --- the portal's dialog -----------------------------------------------------

    def answer(self, allow):
        """Answers GNOME's "Remote desktop" dialog, which sits in the middle of
        the monitor: the switch for remote interaction, then Share; or Cancel."""
        self.shot("dialog")
        x, y = WIDTH // 2, HEIGHT // 2
        if allow:
            self.mouse.click(x + 179, y - 76)
            time.sleep(0.3)
            self.mouse.click(x + 202, y - 127)
        else:
            self.mouse.click(x - 200, y - 127)
        self.origin = self.wait_placed()

    def wait_placed(self):
        """The keyboard's client origin once it has been put at the bottom and stays there."""
        last = [None]

        def settled():
            time.sleep(0.2)
            where = self.keyboard_origin()
            done = where is not None and where == last[0]
            last[0] = where
            return where if done else None
        return wait_for("the keyboard placed", settled)

    def point(self, key):
        left, top, width, height = LAYOUT[key]
        x0, y0 = self.origin
        return (x0 + (pixels(left, 96) + pixels(left + width, 96)) // 2,
                y0 + (pixels(top, 96) + pixels(top + height, 96)) // 2)

    def click(self, *keys):
        for key in keys:
            self.mouse.click(*self.point(key))
            time.sleep(0.05)


def _processes_with(runtime):
    """PIDs of processes started with this XDG_RUNTIME_DIR."""
    if not runtime:
        return []
    mark = ("XDG_RUNTIME_DIR=" + runtime).encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as f:
                if mark in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            pass
    return found


def case_typing(desktop):
    """Approved, the keyboard types into foot, a Wayland client, exactly: latched Shift
    and Ctrl, its own Caps Lock (with Shift, the small letter), a keypad digit under its
    own Num Lock, Enter. foot keeps the keyboard focus throughout."""
    with Gnome(desktop.out_dir, "wayland_gnome_typing") as g:
        g.start_keyboard()
        g.answer(True)
        focus = g.foot_focus()
        shift, ctrl, caps = ("换档", 160), ("控制", 162), ("大写锁", 0)
        g.click(("SKB", 72), ("SKB", 73), shift, ("SKB", 49), shift, caps, ("SKB", 65), ("SKB", 66),
                shift, ("SKB", 65), shift, caps, ctrl, ("SKB", 67), ctrl, ("小键盘", 97), ("SKB", 13))
        want = b"hi!ABa\x031\r"
        try:
            wait_for("the text at foot", lambda: g.typed() == want)
        except CaseFailure:
            raise CaseFailure("foot got %r, not %r" % (g.typed(), want))
        g.shot("typed")
        check(g.foot_focus()[1] == focus[1], "foot lost the keyboard focus: %r then %r" % (focus, g.foot_focus()))


def case_focus(desktop):
    """Clicks on the keyboard's background, a light and its keys never take the keyboard
    focus from foot: it sees no wl_keyboard.leave, and the keys arrive. A click on the
    title bar, which mutter draws, starts mutter's move, which holds the keyboard focus
    while it lasts: foot has the focus again after it."""
    with Gnome(desktop.out_dir, "wayland_gnome_focus") as g:
        g.start_keyboard()
        g.answer(True)
        focus = g.foot_focus()
        x0, y0 = g.origin
        background = (x0 + pixels(720, 96), y0 + pixels(200, 96))
        for point in (background, g.point(("数字灯", 0)), background, g.point(("SKB", 90))):
            g.mouse.click(*point)
            time.sleep(0.2)
        wait_for("z at foot", lambda: g.typed() == b"z")
        g.shot("keyboard_over_foot")
        check(g.foot_focus()[1] == focus[1], "foot lost the keyboard focus: %r then %r" % (focus, g.foot_focus()))
        g.mouse.click(x0 + 100, y0 - 12)
        wait_for("foot with the focus after a click on the title bar",
                 lambda: g.foot_focus()[0] == g.foot_focus()[1] + 1)
        g.click(("SKB", 90))
        wait_for("z at foot after it", lambda: g.typed() == b"zz")


def _falls_back(g, picture):
    """The message box, then keys through XTest: a latched Shift is down on the X
    display (the portal's would not be), and foot gets nothing of it."""
    typed = g.typed()
    box = wait_for("the message box", lambda: g.x_window("Vimbrel"))
    g.shot(picture)
    g.run(g.x_target, "close", box)
    wait_for("the message box closed", lambda: not g.x_window("Vimbrel"))
    g.click(("换档", 160))
    down = wait_for("Shift down on the X display", lambda: g.run(g.x_target, "keys").strip() != "none" and
                    g.run(g.x_target, "keys").strip())
    check(down == "50", "keycodes down on X: %r, not Shift's 50" % down)
    g.click(("SKB", 65), ("换档", 160))
    wait_for("Shift let go on X", lambda: g.run(g.x_target, "keys").strip() == "none")
    check(g.typed() == typed, "foot got %r through XTest" % g.typed()[len(typed):])


def case_declined(desktop):
    """Remote interaction declined, the keyboard says so and falls back to XTest."""
    with Gnome(desktop.out_dir, "wayland_gnome_declined") as g:
        g.start_keyboard()
        g.answer(False)
        _falls_back(g, "declined_message")


def case_closed(desktop):
    """The session ends later (the portal gone): the keyboard says so and falls
    back to XTest."""
    with Gnome(desktop.out_dir, "wayland_gnome_closed") as g:
        g.start_keyboard()
        g.answer(True)
        g.click(("SKB", 65))
        wait_for("a at foot", lambda: g.typed() == b"a")
        g.end("org.freedesktop.portal.Desktop")
        _falls_back(g, "closed_message")


def _portal_calls(path):
    """(method, its integer arguments) of each call to the portal, in order, from dbus-monitor."""
    calls = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            found = re.match(r"method call .*interface=org\.freedesktop\.portal\.(\w+); member=(\w+)", line)
            if found:
                calls.append((found.group(2), []))
            elif line.startswith("method") or line.startswith("signal"):
                calls.append((None, []))
            elif calls and re.match(r"\s+u?int32 \d+", line):
                calls[-1][1].append(int(line.split()[1]))
    return [(method, args) for method, args in calls if method]


def case_sigterm(desktop):
    """Ended by SIGTERM with Shift latched and its Caps Lock on, the keyboard lets go of
    Shift through the session, turns the desktop's Caps Lock off, then closes the
    session: a key typed afterwards by another device is a small letter. (mutter lets
    go of a closed session's keys itself, so the letting go is read off the bus.)"""
    with Gnome(desktop.out_dir, "wayland_gnome_sigterm") as g:
        monitor = os.path.join(g.dir, "monitor.out")
        g.spawn(["dbus-monitor", "--session", "type='method_call',interface='org.freedesktop.portal.RemoteDesktop'",
                 "type='method_call',interface='org.freedesktop.portal.Session'"], "monitor")
        g.start_keyboard()
        g.answer(True)
        g.click(("大写锁", 0), ("换档", 160), ("SKB", 65))
        wait_for("a at foot (Shift and Caps Lock)", lambda: g.typed() == b"a")
        g.click(("SKB", 49))
        wait_for("! at foot", lambda: g.typed() == b"a!")
        g.keyboard.send_signal(signal.SIGTERM)
        wait_for("the keyboard to exit", lambda: g.keyboard.poll() is not None)
        check(g.keyboard.returncode == 0, "exit status %d" % g.keyboard.returncode)
        # A letter shows Caps Lock or Shift left on, a digit Shift (both on leave the letter small).
        g.mouse.type_keysym(ord("q"))
        g.mouse.type_keysym(ord("1"))
        try:
            wait_for("the next keys at foot", lambda: len(g.typed()) == 4)
        except CaseFailure:
            raise CaseFailure("foot got %r after the keyboard ended" % g.typed())
        check(g.typed() == b"a!q1", "after SIGTERM q1 typed as %r: Shift or Caps Lock left on" % g.typed()[2:])
        calls = _portal_calls(monitor)
        closed = [i for i, (method, _) in enumerate(calls) if method == "Close"]
        shift_up = [i for i, call in enumerate(calls) if call == ("NotifyKeyboardKeysym", [0xffe1, 0])]
        check(closed and closed[-1] == len(calls) - 1, "the session was not closed last: %r" % calls[-6:])
        check(shift_up and closed[-1] - 6 < shift_up[-1] < closed[-1],
              "Shift not let go through the session before it closed: %r" % calls[-6:])
