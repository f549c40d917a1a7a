#!/usr/bin/python3
"""End-to-end cases of the native keyboard (build/native/vimbrel), run by e2e.py.

Each case starts a fresh X server of its own (session.py --native: Xvfb, a
window manager and a D-Bus session): latched keys and lock states outlive the
programs that set them. The keyboard types into x_target, an Xlib window that
logs every key and focus event it receives with its keysym and state, or into
xterm. Keys are found from the layout tables (layout/key_table.h, labels.h)
and clicked with xdotool.
"""

import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session as sessionlib  # noqa: E402
from harness import (EDITION_TEXT, HIGHLIGHT, CaseRun, KEYBOARD_TITLE as TITLE, Rect, Screenshot, check,  # noqa: E402
                     icon_pointer_problem, log_lines, read_icon, read_pointer)

SOURCE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
WAIT = 5.0

def wait_for(what, probe, timeout=WAIT):
    """Polls probe() until it returns something true; fails naming `what`."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value or time.monotonic() > deadline:
            check(value, "timed out waiting for " + what)
            return value
        time.sleep(0.05)


def pixels(twips, dpi):
    return int(twips * dpi / 1440 + 0.5)


def _layout():
    """{(control, index): (left, top, width, height) in twips} of the keys and the labels."""
    with open(os.path.join(SOURCE_DIR, "layout", "key_table.h"), encoding="utf-8") as f:
        keys = re.findall(r'\{\{Control::(\w+)(?:,\s*(\d+))?\},\s*u"(?:[^"\\]|\\.)*",\s*u"(?:[^"\\]|\\.)*",'
                          r'\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+),', f.read())
    with open(os.path.join(SOURCE_DIR, "layout", "labels.h"), encoding="utf-8") as f:
        labels = re.findall(r'\{u"(\w+)",\s*u"[^"]*",\s*k\w+,\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+),', f.read())
    rects = {(c, int(i or 0)): tuple(map(int, r)) for c, i, *r in keys}
    rects.update({(name, 0): tuple(map(int, r)) for name, *r in labels})
    check(len(rects) == 110, "read %d keys and labels from the layout, expected 110" % len(rects))
    return rects


LAYOUT = _layout()
KEYS = [k for k in LAYOUT if not (k[0].endswith("灯") or k[0].startswith("Label"))]

# The keysym each ordinary, keypad and Applications key types: the US layout's, unshifted.
_NAMED = {8: "BackSpace", 9: "Tab", 13: "Return", 19: "Pause", 27: "Escape", 32: "space", 33: "Prior",
          34: "Next", 35: "End", 36: "Home", 37: "Left", 38: "Up", 39: "Right", 40: "Down", 44: "Print",
          45: "Insert", 46: "Delete", 106: "KP_Multiply", 107: "KP_Add", 109: "KP_Subtract",
          111: "KP_Divide", 186: "semicolon", 187: "equal", 188: "comma", 189: "minus", 190: "period",
          191: "slash", 192: "grave", 219: "bracketleft", 220: "backslash", 221: "bracketright",
          222: "apostrophe", 110: "KP_Decimal"}
_NAMED.update({vk: chr(vk) for vk in range(48, 58)})
_NAMED.update({vk: chr(vk).lower() for vk in range(65, 91)})
_NAMED.update({vk: "F%d" % (vk - 111) for vk in range(112, 124)})
_NAMED.update({vk: "KP_%d" % (vk - 96) for vk in range(96, 106)})
EXPECTED_SYM = {key: _NAMED[key[1]] for key in KEYS if key[0] in ("SKB", "小键盘")}
EXPECTED_SYM[("小回车", 0)] = "KP_Enter"
EXPECTED_SYM[("快捷菜单", 0)] = "Menu"

SHIFT, LOCK, CONTROL, MOD1 = 0x1, 0x2, 0x4, 0x8


def parse(line):
    words = line.split()
    item = {"kind": words[0] if words else "", "what": ""}
    for word in words[1:]:
        key, eq, value = word.partition("=")
        if eq:
            item[key] = value
        else:
            item["what"] = word
    return item


class Native(CaseRun):
    """One case's fresh X server, its keyboard and its target; all stopped at the end."""

    def __init__(self, desktop, case, wm="openbox"):
        super().__init__(desktop.out_dir, case, "tests/e2e/native/x_target")
        self.x_target, = self.helpers
        self.state = os.path.join(self.dir, "session.json")
        self.wm = wm
        self.target = None
        self.log_path = os.path.join(self.dir, "target.log")
        self.seen = 0

    def __enter__(self):
        try:
            sessionlib.start(self.state, native=True, wm=self.wm)
            self.env = sessionlib.Session.load(self.state).env()
            return self
        except BaseException:
            sessionlib.stop(self.state)
            raise

    def __exit__(self, *exc):
        self.end_processes()
        sessionlib.stop(self.state)
        return False

    # --- programs --------------------------------------------------------------

    def run(self, *argv, env=None):
        return subprocess.run([str(a) for a in argv], env=env or self.env, capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=30)

    def start_target(self):
        self.target = self.spawn([self.x_target, "record", self.log_path], "target")
        lines = wait_for("the target's window", lambda: self.lines() if "ready" in
                         " ".join(self.lines()) else None)
        self.target_window = int(parse(lines[0])["window"], 16)
        wait_for("the focus on the target", lambda: self.focus() == self.target_window)
        self.mark()

    def start_keyboard(self, argv=None, cwd=None, **extra_env):
        env = dict(self.env, **extra_env)
        self.keyboard = self.spawn(argv or [self.keyboard_exe], "vimbrel", env, cwd)
        self.window = int(wait_for("the keyboard window", lambda: self.find_window(TITLE)))
        # Placed at the bottom centre with its first draw: wait until it stays put.
        last = None
        for _ in range(40):
            where = self.client_origin()
            if where == last:
                break
            last = where
            time.sleep(0.15)
        self.origin = last
        return self.keyboard

    def find_window(self, title):
        out = self.run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title)).stdout.split()
        return int(out[0]) if out else None

    def client_origin(self):
        out = self.run("xwininfo", "-id", self.window).stdout
        x = re.search(r"Absolute upper-left X:\s+(-?\d+)", out)
        y = re.search(r"Absolute upper-left Y:\s+(-?\d+)", out)
        return (int(x.group(1)), int(y.group(1))) if x and y else None

    def helper(self, *args):
        return self.run(self.x_target, *args).stdout.strip()

    # --- the display -------------------------------------------------------------

    def focus(self):
        out = self.run("xdotool", "getwindowfocus").stdout.strip()
        return int(out) if out.isdigit() else None

    def active(self):
        out = self.run("xprop", "-root", "_NET_ACTIVE_WINDOW").stdout
        match = re.search(r"window id # (0x[0-9a-f]+)", out)
        return int(match.group(1), 16) if match else None

    def keys_down(self):
        return self.helper("keys")

    # --- clicking --------------------------------------------------------------

    def point(self, key, dpi=96):
        left, top, width, height = LAYOUT[key]
        x0, y0 = self.origin
        return (x0 + (pixels(left, dpi) + pixels(left + width, dpi)) // 2,
                y0 + (pixels(top, dpi) + pixels(top + height, dpi)) // 2)

    def click(self, *keys, button=1):
        """Clicks each key (or (x, y) point) in turn, in one run of xdotool."""
        if not keys:
            return
        argv = ["xdotool"]
        for key in keys:
            x, y = key if isinstance(key[0], int) else self.point(key)
            argv += ["mousemove", x, y, "click", button, "sleep", 0.05]
        check(self.run(*argv).returncode == 0, "xdotool failed")
        self.run("xdotool", "mousemove", 5, 5)

    def key_rect(self, key, dpi=96):
        left, top, width, height = LAYOUT[key]
        x0, y0 = self.origin
        return Rect("%d,%d,%d,%d" % (x0 + pixels(left, dpi), y0 + pixels(top, dpi),
                                     x0 + pixels(left + width, dpi), y0 + pixels(top + height, dpi)))

    def key_pixels(self, key):
        return Screenshot(self.env).region(self.key_rect(key))

    def key_colour_count(self, key, colour):
        return Screenshot(self.env).count(self.key_rect(key), colour)

    def ringed(self, key):
        """The key shows the held ring: a frame of pure red inside its edge."""
        rect = self.key_rect(key)
        return self.key_colour_count(key, (255, 0, 0)) >= 2 * (rect.width + rect.height)

    def background(self):
        """A point of the keyboard's background: the gap between Escape and F1."""
        x0, y0 = self.origin
        return x0 + pixels(720, 96), y0 + pixels(200, 96)

    # --- the target's log ---------------------------------------------------------

    def lines(self):
        return log_lines(self.log_path)

    def mark(self):
        self.seen = len(self.lines())

    def key_events(self, count, settle=0.4):
        """The key events since the mark, once `count` have come and no more for `settle` s."""
        def events():
            return [parse(line) for line in self.lines()[self.seen:] if line.startswith("key ")]
        wait_for("%d key events at the target (got %r)" % (count, [e.get("sym") for e in events()]),
                 lambda: len(events()) >= count)
        time.sleep(settle)
        return events()


def brief(events):
    return " ".join("%s%s/%s" % ("+" if e["what"] == "press" else "-", e["sym"], e["state"]) for e in events)


def strokes(events):
    """The events as (sym, press) pairs."""
    return [(e["sym"], e["what"] == "press") for e in events]


def check_focus_kept(n, what):
    check(n.focus() == n.target_window, "%s moved the X input focus to 0x%x" % (what, n.focus() or 0))
    check(n.active() == n.target_window, "%s changed _NET_ACTIVE_WINDOW to 0x%x" % (what, n.active() or 0))


# --- the cases ---------------------------------------------------------------------


def case_typing(desktop):
    """Every ordinary key, the keypad, keypad Enter and the Applications key type their
    US keysyms, press then release; clicks on keys, the background and the lights move
    neither the X focus nor the active window (openbox)."""
    with Native(desktop, "native_typing") as n:
        n.run("xdotool", "key", "Num_Lock")  # X's Num Lock on, as the keyboard's start picture has it
        n.start_keyboard()
        n.start_target()
        keys = sorted(EXPECTED_SYM, key=lambda k: (LAYOUT[k][1], LAYOUT[k][0]))
        n.click(*keys)
        got = strokes(n.key_events(2 * len(keys)))
        want = [pair for key in keys for pair in ((EXPECTED_SYM[key], True), (EXPECTED_SYM[key], False))]
        check(got == want, "typed %d events, first difference at %s" % (len(got), next(
            ((i, g, w) for i, (g, w) in enumerate(zip(got + [None] * len(want), want)) if g != w), None)))
        n.click(n.background(), n.point(("数字灯", 0)), n.point(("Label2", 0)))
        n.click(n.background(), button=3)  # the menu opens; Escape closes it
        n.run("xdotool", "key", "Escape")
        check_focus_kept(n, "clicking keys, lights and the background")
        check(n.keyboard.poll() is None, "the keyboard exited")


def case_focus_xfwm4(desktop):
    """Under xfwm4 too, clicks on keys, the background and the lights leave the focus
    with the target, which receives the keys; started with WAYLAND_DISPLAY set, the
    keyboard warns once and runs on X."""
    with Native(desktop, "native_focus_xfwm4", wm="xfwm4") as n:
        # Started as from a Wayland session: it says once that it reaches X clients only, and runs on X.
        n.start_keyboard(WAYLAND_DISPLAY="wayland-vimbrel-test")
        with open(os.path.join(n.dir, "vimbrel.out"), encoding="utf-8") as f:
            said = f.read().splitlines()
        check(len(said) == 1 and "Wayland" in said[0] and "X" in said[0], "at start it said %r" % said)
        n.start_target()
        n.click(("SKB", 65), n.background(), ("SKB", 66), n.point(("卷轴灯", 0)), ("SKB", 67))
        check(brief(n.key_events(6)) == "+a/0x0 -a/0x0 +b/0x0 -b/0x0 +c/0x0 -c/0x0",
              "the target received %s" % brief(n.key_events(6)))
        check_focus_kept(n, "clicks under xfwm4")


def case_modifiers(desktop):
    """Shift and Ctrl are held server-wide from one click to the next, seen in the state of
    the keys between; Alt and the Windows key go down only around each other key.
    Afterwards nothing is down."""
    with Native(desktop, "native_modifiers") as n:
        n.start_keyboard()
        n.start_target()
        shift, ctrl, alt, win, a = ("换档", 160), ("控制", 163), ("转换", 164), ("徽标", 91), ("SKB", 65)
        n.click(shift, a, shift, a)
        check(brief(n.key_events(6)) == "+Shift_L/0x0 +A/0x1 -A/0x1 -Shift_L/0x1 +a/0x0 -a/0x0",
              "Shift then A: %s" % brief(n.key_events(6)))
        n.mark()
        n.click(ctrl, a, ctrl)
        check(brief(n.key_events(4)) == "+Control_R/0x0 +a/0x4 -a/0x4 -Control_R/0x4",
              "right Ctrl then A: %s" % brief(n.key_events(4)))
        n.mark()
        n.click(alt)
        check(n.keys_down() == "none", "Alt latched holds %s down" % n.keys_down())
        n.click(win, a, ("SKB", 66), alt, win, a)
        want = ("+Alt_L/0x0 +Super_L/0x8 +a/0x48 -a/0x48 -Alt_L/0x48 -Super_L/0x40 "
                "+Alt_L/0x0 +Super_L/0x8 +b/0x48 -b/0x48 -Alt_L/0x48 -Super_L/0x40 +a/0x0 -a/0x0")
        check(brief(n.key_events(14)) == want, "Alt and Win around A and B: %s" % brief(n.key_events(14)))
        check(n.keys_down() == "none", "keys left down: %s" % n.keys_down())


def lit_lights(n):
    """The lights a screen reader hears as lit."""
    return {name for role, name, checked, _ in screen_reader_view(n) if role == "check box" and checked}


def case_locks_keypad(desktop):
    """The locks are X's: Caps Lock and Num Lock switched on before the keyboard starts
    light 大写灯 and 数字灯 at start; Caps Lock switched off by another client (as by
    the physical key) darkens 大写灯 and changes A's caption. Caps Lock and Scroll Lock
    clicks send their keysyms and X's locks follow. The keypad sends its own key and X
    applies its Num Lock; a click on Num Lock sends Num_Lock and the light then shows
    X's new state, once."""
    with Native(desktop, "native_locks_keypad") as n:
        n.run("xdotool", "key", "Caps_Lock", "Num_Lock")
        n.start_keyboard()
        n.start_target()
        check(lit_lights(n) == {"大写灯", "数字灯"}, "at start with X's Caps and Num Lock on: %s lit"
              % lit_lights(n))
        capitals = n.key_pixels(("SKB", 65))
        n.run("xdotool", "key", "Caps_Lock")
        wait_for("大写灯 to go dark after X's Caps Lock went off", lambda: lit_lights(n) == {"数字灯"})
        check(n.key_pixels(("SKB", 65)) != capitals, "A's caption did not follow X's Caps Lock")
        n.mark()
        caps, scroll = ("大写锁", 0), ("卷轴锁", 0)
        n.click(caps, ("SKB", 65), caps, ("SKB", 65), scroll, scroll)
        check(brief(n.key_events(12)) == "+Caps_Lock/0x10 -Caps_Lock/0x12 +A/0x12 -A/0x12 +Caps_Lock/0x12 "
                                          "-Caps_Lock/0x12 +a/0x10 -a/0x10 +Scroll_Lock/0x10 -Scroll_Lock/0x10 "
                                          "+Scroll_Lock/0x10 -Scroll_Lock/0x10",
              "Caps Lock, A, Caps Lock, A, Scroll Lock twice: %s" % brief(n.key_events(12)))
        n.mark()
        seven, numlock = ("小键盘", 103), ("数字锁", 0)
        n.click(seven, numlock, seven)
        events = n.key_events(6)
        check(brief(events) == "+KP_7/0x10 -KP_7/0x10 +Num_Lock/0x10 -Num_Lock/0x10 +KP_Home/0x0 -KP_Home/0x0",
              "keypad 7, Num Lock, keypad 7: %s" % brief(events))
        check(events[0]["text"] == "37", "keypad 7 did not type 7")
        time.sleep(0.3)
        check(lit_lights(n) == set(), "after Num Lock went off: %s lit" % lit_lights(n))


def case_held_ring(desktop):
    """A key held on the physical keyboard shows a red ring inside its edge until it is
    let go; keypad Enter rings 小回车. The keyboard's own keys never ring, not even a
    latched Shift; a latched Shift held physically rings on its highlight face and is
    still latched after it is let go."""
    with Native(desktop, "native_held_ring") as n:
        n.start_keyboard()
        n.start_target()
        a, enter, shift = ("SKB", 65), ("小回车", 0), ("换档", 160)
        n.run("xdotool", "keydown", "a", "keydown", "KP_Enter")
        wait_for("a ring on A and on 小回车", lambda: n.ringed(a) and n.ringed(enter))
        n.run("xdotool", "keyup", "a", "keyup", "KP_Enter")
        wait_for("the rings to go", lambda: not n.ringed(a) and not n.ringed(enter))
        n.click(a, shift)
        time.sleep(0.3)
        check(not n.ringed(a) and not n.ringed(shift), "a click or a latch of the keyboard's own rang")
        # The same key, held on a keyboard of its own: the XTest device that the
        # keyboard holds Shift down on takes no second press of it.
        n.helper("physical", "Shift_L", "down")
        wait_for("a ring on the latched Shift", lambda: n.ringed(shift))
        check(n.key_colour_count(shift, HIGHLIGHT) > 0, "the latched Shift lost its highlight face")
        n.helper("physical", "Shift_L", "up")
        wait_for("the ring on Shift to go", lambda: not n.ringed(shift))
        check(n.key_colour_count(shift, HIGHLIGHT) > 0, "Shift is no longer latched after the physical one")


def case_foreign_layout(desktop):
    """When the layout becomes Russian while the keyboard runs, A still types a (with
    Shift, A) through a spare keycode, which is empty again once the keyboard has closed."""
    with Native(desktop, "native_foreign_layout") as n:
        n.start_keyboard()
        n.start_target()
        n.click(("SKB", 65))
        check(brief(n.key_events(2)) == "+a/0x0 -a/0x0", "A under us: %s" % brief(n.key_events(2)))
        check(n.run("setxkbmap", "ru").returncode == 0, "setxkbmap ru failed")
        time.sleep(0.3)
        n.mark()
        n.click(("SKB", 65), ("换档", 161), ("SKB", 65), ("换档", 161))
        events = n.key_events(6)
        check(brief(events) == "+a/0x0 -a/0x0 +Shift_R/0x0 +A/0x1 -A/0x1 -Shift_R/0x1",
              "A, Shift, A under ru: %s" % brief(events))
        check(events[0]["text"] == "61" and events[3]["text"] == "41", "the target did not get a and A")
        spare = events[0]["keycode"]
        check(n.helper("keysyms", spare).split()[:2] == ["a", "A"], "keycode %s holds %s" % (spare, n.helper("keysyms", spare)))
        n.run(n.x_target, "close", n.window)
        wait_for("the keyboard to exit", lambda: n.keyboard.poll() is not None)
        check(n.helper("keysyms", spare) == "none",
              "keycode %s still holds %s after exit" % (spare, n.helper("keysyms", spare)))


def _way_out(n, how):
    if how == "close":
        n.run(n.x_target, "close", n.window)
    elif how == "xkill":
        n.run("xdotool", "windowkill", n.window)
    else:
        n.keyboard.send_signal(getattr(signal, how))


def case_ways_out(desktop):
    """Closed, ended by SIGTERM, SIGINT or SIGHUP, or cut off from X (xkill, which it says
    and ends with status 1), the keyboard lets go of a latched Shift and Ctrl and empties
    the keycode it borrowed. Killed outright (SIGKILL), it can do nothing: the next
    keyboard started on the display does it instead."""
    for how in ("close", "SIGTERM", "SIGINT", "SIGHUP", "xkill", "SIGKILL"):
        with Native(desktop, "native_ways_out_" + how) as n:
            n.run("setxkbmap", "ru")
            n.start_keyboard()
            n.start_target()
            n.click(("换档", 160), ("控制", 162), ("SKB", 81))
            events = n.key_events(4)
            spare = events[2]["keycode"]
            check(events[2]["sym"] == "Q", "%s: Shift, Ctrl, Q typed %s" % (how, brief(events)))
            check(len(n.keys_down().split()) == 2, "%s: Shift and Ctrl not down (%s)" % (how, n.keys_down()))
            _way_out(n, how)
            wait_for("the keyboard to exit after %s" % how, lambda: n.keyboard.poll() is not None)
            status = {"xkill": 1, "SIGKILL": -signal.SIGKILL}.get(how, 0)
            check(n.keyboard.returncode == status, "%s: exit status %d" % (how, n.keyboard.returncode))
            if how == "xkill":
                with open(os.path.join(n.dir, "vimbrel.out"), encoding="utf-8", errors="replace") as f:
                    check("connection to the X display was lost" in f.read(), "xkill: the keyboard did not say why it ended")
            if how == "SIGKILL":
                check(n.keys_down() != "none", "SIGKILL: nothing was left down to recover")
                n.start_keyboard()
            check(n.keys_down() == "none", "%s: keys left down: %s" % (how, n.keys_down()))
            check(n.helper("keysyms", spare) == "none", "%s: keycode %s still holds %s"
                  % (how, spare, n.helper("keysyms", spare)))


def _wm_state(n):
    out = n.run("xprop", "-id", n.window, "WM_STATE").stdout
    match = re.search(r"window state: (\w+)", out)
    return match.group(1) if match else None


def bottom_centre(n, dpi=96, monitor=(0, 0, 1280, 1024)):
    """Where the client area belongs: the frame centred on the primary monitor (x, y,
    width, height in pixels), 450 twips above its bottom."""
    out = n.run("xwininfo", "-id", n.window).stdout
    width, height = (int(re.search(name + r": (\d+)", out).group(1)) for name in ("Width", "Height"))
    extents = re.search(r"= (\d+), (\d+), (\d+), (\d+)", n.run("xprop", "-id", n.window, "_NET_FRAME_EXTENTS").stdout)
    check(extents, "the window manager gave no frame extents")
    left, right, top, bottom = map(int, extents.groups())
    outer_w, outer_h = width + left + right, height + top + bottom
    x, y, screen_w, screen_h = monitor
    twips = 1440 / dpi
    return (pixels(x * twips + (screen_w * twips / 2 - outer_w * twips / 2), dpi) + left,
            pixels(y * twips + (screen_h * twips - outer_h * twips - 450), dpi) + top)


def case_two_monitors(desktop):
    """With the primary monitor right of another, the keyboard starts at the bottom centre
    of the primary one."""
    with Native(desktop, "native_two_monitors") as n:
        n.run("xrandr", "--setmonitor", "left", "640/169x1024/271+0+0", "none")
        check(n.run("xrandr", "--setmonitor", "*right", "640/169x1024/271+640+0", "screen").returncode == 0,
              "xrandr could not make the right half the primary monitor")
        n.start_keyboard()
        want = bottom_centre(n, monitor=(640, 0, 640, 1024))
        check(n.origin == want, "at %r, not at the primary monitor's bottom centre %r" % (n.origin, want))


def case_one_per_display(desktop):
    """Dragged by its background the keyboard moves, and a click on a key or a tooltip
    that comes and goes leaves it there;
    a second start ends at once with 0, and brings the first back from the minimised
    state, without the focus, at the bottom centre again."""
    with Native(desktop, "native_one_per_display") as n:
        n.start_keyboard()
        n.start_target()
        check(n.origin == bottom_centre(n), "at start at %r, not at the bottom centre %r" % (n.origin, bottom_centre(n)))
        x, y = n.background()
        n.run("xdotool", "mousemove", x, y, "mousedown", 1, "sleep", 0.2, "mousemove", x + 20, y - 20, "sleep", 0.2,
              "mousemove", x - 100, y - 300, "sleep", 0.3, "mouseup", 1)
        moved = (n.origin[0] - 100, n.origin[1] - 300)
        wait_for("the drag to move the keyboard to %r (at %r)" % (moved, n.client_origin()),
                 lambda: n.client_origin() == moved)
        n.origin = moved
        n.click(("SKB", 65))
        n.run("xdotool", "mousemove", *n.point(("SKB", 66)))
        wait_for("the tooltip of B", lambda: _tooltip_near(n, *n.point(("SKB", 66))), timeout=3)
        n.run("xdotool", "mousemove", 5, 5, "sleep", 0.5)
        check(n.client_origin() == moved, "a click on a key or a tooltip moved the dragged keyboard to %r"
              % (n.client_origin(),))
        n.run("xdotool", "windowminimize", n.window)
        wait_for("the keyboard to be iconified", lambda: _wm_state(n) == "Iconic")
        second = subprocess.run([n.keyboard_exe], env=n.env, capture_output=True, timeout=10)
        check(second.returncode == 0, "the second start exited with %d" % second.returncode)
        wait_for("the first keyboard to come back", lambda: _wm_state(n) == "Normal")
        wait_for("the keyboard at the bottom centre again (at %r)" % (n.client_origin(),),
                 lambda: n.client_origin() == bottom_centre(n))
        check(len(n.run("xdotool", "search", "--name", "^%s$" % re.escape(TITLE)).stdout.split()) == 1,
              "more than one keyboard window")
        check_focus_kept(n, "restoring the keyboard")


def _shot(n, rect):
    """The pixels of a root-window rectangle (x, y, w, h) as rows of RGB tuples."""
    x, y, w, h = rect
    data = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8",
                           "rgb:-"], env=n.env, capture_output=True, timeout=30).stdout
    check(len(data) == w * h * 3, "screenshot of %r failed" % (rect,))
    return [[tuple(data[(r * w + c) * 3:(r * w + c) * 3 + 3]) for c in range(w)] for r in range(h)]


EDGE_LIGHT, EDGE_DARK = (227, 227, 227), (105, 105, 105)


def _geometry_problems(n, dpi, scale=1):
    """Where the window, keys and lights are not drawn at their twips rectangles."""
    problems = []
    width, height = pixels(11040, dpi), pixels(2640, dpi)
    out = n.run("xwininfo", "-id", n.window).stdout
    got = (int(re.search(r"Width: (\d+)", out).group(1)), int(re.search(r"Height: (\d+)", out).group(1)))
    if got != (width * scale, height * scale):
        problems.append("client area %dx%d, expected %dx%d" % (got + (width * scale, height * scale)))
    # The keys on the screen (a window twice the size may stick out at the sides).
    x0, y0 = n.origin
    sx, sy = max(x0, 0), max(y0, 0)
    shot = _shot(n, (sx, sy, min(x0 + width * scale, 1280) - sx, min(y0 + height * scale, 1024) - sy))
    for key in KEYS:
        left, top, w, h = LAYOUT[key]
        l, t = pixels(left, dpi) * scale + x0 - sx, pixels(top, dpi) * scale + y0 - sy
        r, b = pixels(left + w, dpi) * scale - 1 + x0 - sx, pixels(top + h, dpi) * scale - 1 + y0 - sy
        if l < 0 or r >= len(shot[0]) or b >= len(shot):
            continue
        corners = (shot[t][l], shot[b][r])
        if corners != (EDGE_LIGHT, EDGE_DARK):
            problems.append("%s(%d): edge corners %r, expected the raised edge at (%d,%d)-(%d,%d)"
                            % (key + (corners, l, t, r, b)))
    # The lit Num Lock light and the white text under it, inside their rectangles
    # (anti-aliased: near their colours).
    for name, colour in (("数字灯", (224, 255, 0)), ("Label1", (255, 255, 255))):
        left, top, w, h = LAYOUT[(name, 0)]
        rows = shot[pixels(top, dpi) * scale + y0 - sy:pixels(top + h, dpi) * scale + y0 - sy]
        inside = sum(1 for row in rows
                     for p in row[pixels(left, dpi) * scale + x0 - sx:pixels(left + w, dpi) * scale + x0 - sx]
                     if max(abs(a - b) for a, b in zip(p, colour)) < 24)
        if inside < 4 * scale * scale:
            problems.append("%s: %d pixels of %r in its rectangle" % (name, inside, colour))
    if scale == 1 and n.origin != bottom_centre(n, dpi):
        problems.append("client area at %r, expected the bottom centre %r" % (n.origin, bottom_centre(n, dpi)))
    return problems


def case_geometry(desktop):
    """At 96 dpi the client area is 736 x 176 and every key is drawn at its twips
    rectangle, the window at the bottom centre; at Xft.dpi 120 all scales with the
    same rounding, and under GDK_SCALE=2 the device pixels double."""
    with Native(desktop, "native_geometry") as n:
        n.run("xdotool", "key", "Num_Lock")  # X's Num Lock on, as the keyboard's start picture has it
        problems = []
        for dpi, scale in ((96, 1), (120, 1), (96, 2)):
            n.run(n.x_target, "resources", "Xft.dpi:\t%d\n" % dpi)
            n.start_keyboard(**({"GDK_SCALE": "2"} if scale == 2 else {}))
            problems += ["dpi %d scale %d: %s" % (dpi, scale, p) for p in _geometry_problems(n, dpi, scale)]
            n.keyboard.terminate()
            n.keyboard.wait(timeout=10)
        check(not problems, "\n".join(problems))


# A screen reader's view of the keyboard, read through AT-SPI in a Python of its own
# (pyatspi connects to the session's bus when it is imported): one JSON list of
# [role, name, checked, description] per object of the application, tree order.
_ATSPI_DUMP = """
import json, pyatspi
found = []
def walk(o):
    for c in o:
        if c is None:
            continue
        found.append([c.getRoleName(), c.name, c.getState().contains(pyatspi.STATE_CHECKED), c.description])
        walk(c)
for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.name == "vimbrel":
        walk(app)
print(json.dumps(found))
"""


def screen_reader_view(n):
    import json
    out = n.run("/usr/bin/python3", "-c", _ATSPI_DUMP)
    check(out.returncode == 0, "reading AT-SPI failed: %s" % out.stderr[-500:])
    return json.loads(out.stdout)


def _tooltips():
    with open(os.path.join(SOURCE_DIR, "layout", "key_table.h"), encoding="utf-8") as f:
        rows = re.findall(r'\{\{Control::(\w+)(?:,\s*(\d+))?\},\s*u"(?:[^"\\]|\\.)*",\s*u"((?:[^"\\]|\\.)*)"', f.read())
    return {(c, int(i or 0)): re.sub(r"\\u([0-9A-Fa-f]{4})", lambda m: chr(int(m.group(1), 16)), t)
            for c, i, t in rows}


LATCHING = {"大写锁", "数字锁", "卷轴锁", "徽标", "转换", "控制", "换档"}


def case_accessibility(desktop):
    """Screen readers see every key as a push button, or a toggle button for the locks and
    modifiers, named by its tooltip; a lock that is on or a latched modifier is checked;
    the lights 数字灯, 大写灯 and 卷轴灯 report whether they are lit."""
    from collections import Counter
    with Native(desktop, "native_accessibility") as n:
        n.start_keyboard()
        tooltips = _tooltips()

        def expected(held, lit):
            keys = Counter(("toggle button" if c in LATCHING else "push button", tooltips[(c, i)], (c, i) in held)
                           for c, i in KEYS)
            lights = Counter(("check box", name, name in lit) for name in ("数字灯", "大写灯", "卷轴灯"))
            return keys + lights

        problems = []
        # X starts with every lock off, and the keyboard shows X's locks.
        for clicks, held, lit in (((), set(), set()),
                                  ((("换档", 161), ("大写锁", 0), ("数字锁", 0)),
                                   {("换档", 161), ("大写锁", 0), ("数字锁", 0)}, {"大写灯", "数字灯"})):
            n.click(*clicks)
            time.sleep(0.3)
            seen = Counter((role, name, checked) for role, name, checked, _ in screen_reader_view(n)
                           if role in ("push button", "toggle button", "check box"))
            want = expected(held, lit)
            if seen != want:
                problems.append("after %r: missing %r, unexpected %r" % (clicks, want - seen, seen - want))
        check(not problems, "\n".join(problems))


def case_pointers_tooltips(desktop):
    """F4 shows the left index finger, F5 the right index finger, each with its hot spot on
    the red tip; the background shows neither; resting on a key shows its tooltip."""
    with Native(desktop, "native_pointers_tooltips") as n:
        n.start_keyboard()
        problems = []
        for key, name in ((("SKB", 115), "left_index"), (("SKB", 116), "right_index")):
            icon = read_icon(os.path.join(SOURCE_DIR, "assets", "finger_%s.ico" % name))
            n.run("xdotool", "mousemove", *n.point(key))
            image = wait_for("the pointer %s" % name, lambda: (lambda i: i if icon_pointer_problem(icon, i) is None
                             else None)(read_pointer(n.env["DISPLAY"])), timeout=2)
            if icon[(image.xhot, image.yhot)] != (255, 0, 0):
                problems.append("over %r the hot spot (%d,%d) is not on the red tip" % (key, image.xhot, image.yhot))
        n.run("xdotool", "mousemove", *n.background())
        time.sleep(0.3)
        background = read_pointer(n.env["DISPLAY"])
        n.run("xdotool", "mousemove", 5, 5)
        time.sleep(0.3)
        if background == read_pointer(n.env["DISPLAY"]) or (background.width, background.height) == (32, 32):
            problems.append("over the background the pointer is %r, not the move pointer" % background)
        x, y = n.point(("SKB", 65))
        n.run("xdotool", "mousemove", x, y, "sleep", 0.1, "mousemove", x + 1, y + 1)
        wait_for("a tooltip window beside the pointer", lambda: _tooltip_near(n, x, y), timeout=3)
        # Its text is the key's, which GTK also gives screen readers as the key's description.
        if not any(o[:2] == ["push button", "a 或 A"] and o[3] == "a 或 A" for o in screen_reader_view(n)):
            problems.append("the key A has no tooltip 'a 或 A'")
        check(not problems, "\n".join(problems))


def _tooltip_near(n, x, y):
    """A mapped tooltip window within 64 pixels of (x, y)."""
    for line in n.run("xwininfo", "-root", "-children").stdout.splitlines():
        match = re.match(r"\s+(0x[0-9a-f]+) .*?(\d+)x(\d+)\+(-?\d+)\+(-?\d+)", line)
        if not match:
            continue
        w, h, left, top = map(int, match.groups()[1:])
        if w < 4 or left - 64 > x or left + w + 64 < x or top - 64 > y or top + h + 64 < y:
            continue
        if ("TOOLTIP" in n.run("xprop", "-id", match.group(1), "_NET_WM_WINDOW_TYPE").stdout
                and "IsViewable" in n.run("xwininfo", "-id", match.group(1)).stdout):
            return match.group(1)
    return None


def case_menu(desktop):
    """A right press on the background opens the menu of four items; a chosen message opens
    with the focus and, closed, gives it back to the target; 最新版本 minimises the
    keyboard and hands the download address to xdg-open."""
    with Native(desktop, "native_menu") as n:
        n.start_keyboard(PATH="%s:%s" % (n.dir, n.env["PATH"]))
        n.start_target()
        with open(os.path.join(n.dir, "xdg-open"), "w") as f:
            f.write("#!/bin/sh\necho \"$@\" > %s/opened\n" % n.dir)
        os.chmod(os.path.join(n.dir, "xdg-open"), 0o755)
        n.click(n.background(), button=3)
        items = wait_for("the menu", lambda: [o[1] for o in screen_reader_view(n) if o[0] == "menu item"] or None)
        check(items == ["关于软件", "版本信息", "编程语言", "最新版本"], "menu items %r" % items)
        n.run("xdotool", "key", "Down", "Down", "Return")
        wait_for("the message 版本信息 with the focus", lambda: (lambda w: w if w and n.focus() == w else None)(
            n.find_window("版本信息")))
        texts = [o[1] for o in screen_reader_view(n) if o[0] == "label"]
        check(EDITION_TEXT in texts, "the message reads %r" % texts)
        n.run("xdotool", "key", "Return")
        wait_for("the message to close", lambda: n.find_window("版本信息") is None)
        wait_for("the focus back on the target", lambda: n.focus() == n.target_window)
        check_focus_kept(n, "closing the message")
        n.click(n.background(), button=3)
        wait_for("the menu", lambda: any(o[0] == "menu item" for o in screen_reader_view(n)))
        n.run("xdotool", "key", "Up", "Return")
        wait_for("the keyboard minimised", lambda: _wm_state(n) == "Iconic")
        opened = os.path.join(n.dir, "opened")
        wait_for("xdg-open to run", lambda: os.path.exists(opened))
        with open(opened) as f:
            check(f.read().strip() == "https://vimbrel.example.org/pelorin.exe", "xdg-open was given another address")
        check_focus_kept(n, "the latest-version command")


def case_xterm(desktop):
    """A real client: clicks type an exact line into `cat` in xterm, then Ctrl+D ends it."""
    with Native(desktop, "native_xterm") as n:
        n.run("xdotool", "key", "Num_Lock")  # X's Num Lock on, as the keyboard's start picture has it
        n.start_keyboard()
        out = os.path.join(n.dir, "typed.txt")
        xterm = n.spawn(["xterm", "-e", "sh", "-c", "cat > %s" % out], "xterm")
        wait_for("xterm", lambda: n.run("xdotool", "search", "--onlyvisible", "--class", "xterm").stdout.split())
        time.sleep(0.5)
        shift, ctrl = ("换档", 160), ("控制", 162)
        n.click(("SKB", 65), shift, ("SKB", 65), ("SKB", 49), shift, ("SKB", 49), ("SKB", 186), ("SKB", 219),
                ("小键盘", 103), ("SKB", 32), ("SKB", 76), ("小回车", 0), ctrl, ("SKB", 68), ctrl)
        wait_for("xterm to end", lambda: xterm.poll() is not None)
        with open(out, encoding="utf-8", errors="replace") as f:
            typed = f.read()
        check(typed == "aA!1;[7 l\n", "cat received %r" % typed)
        check(n.keys_down() == "none", "keys left down: %s" % n.keys_down())
