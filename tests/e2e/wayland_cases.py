#!/usr/bin/python3
"""End-to-end cases of the native keyboard on Wayland, run by e2e.py.

Each case starts a headless sway of its own (session.py --wayland), as
latched keys and lock states outlive the programs that set them. The
keyboard types into `cat` in foot, whose exact bytes are compared; the
focused window is read from sway's tree. A headless sway has no input
devices: w_pointer (tests/e2e/wayland) is a virtual pointer, moved and
clicked line by line. The keyboard is found on screenshots (grim) by its
grey background; its keys from the layout tables, as in native_cases.py.
"""

import json
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session as sessionlib  # noqa: E402
from harness import KEYBOARD_TITLE, CaseFailure, CaseRun, check  # noqa: E402
from native_cases import EDGE_DARK, EDGE_LIGHT, KEYS, LAYOUT, pixels, wait_for  # noqa: E402

# The window's own grey, 0xC0C0C0, sixteen pixels in a row (a few grey pixels
# of anti-aliased text elsewhere are not the keyboard).
BACKGROUND = b"\xc0\xc0\xc0" * 16
WIDTH, HEIGHT = sessionlib.SWAY_SIZE
ADDRESS = "https://vimbrel.example.org/pelorin.exe"


class Wayland(CaseRun):
    """One case's headless sway, the keyboard, foot and the pointer; all stopped at the end."""

    def __init__(self, desktop, case, xwayland=False):
        super().__init__(desktop.out_dir, case, "tests/e2e/wayland/w_pointer")
        self.pointer_exe, = self.helpers
        self.state = os.path.join(self.dir, "session.json")
        self.xwayland = xwayland
        self.pointer = None
        self.typed_path = os.path.join(self.dir, "typed.bin")

    def __enter__(self):
        try:
            sessionlib.start(self.state, wayland=True, xwayland=self.xwayland)
            self.env = sessionlib.Session.load(self.state).env()
            # The desktop's handler for addresses: one that writes down what it was given.
            with open(os.path.join(self.dir, "xdg-open"), "w") as f:
                f.write("#!/bin/sh\necho \"$@\" > %s/opened\n" % self.dir)
            os.chmod(os.path.join(self.dir, "xdg-open"), 0o755)
            self.env["PATH"] = "%s:%s" % (self.dir, self.env.get("PATH", os.defpath))
            self.pointer = subprocess.Popen([self.pointer_exe, str(WIDTH), str(HEIGHT)], env=self.env,
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
            self.procs.append(self.pointer)
            check(self.pointer.stdout.readline().strip() == "ready", "w_pointer did not start")
            return self
        except BaseException:
            self.__exit__()
            raise

    def __exit__(self, *exc):
        self.end_processes()
        sessionlib.stop(self.state)
        return False

    # --- programs --------------------------------------------------------------

    def run(self, *argv, env=None, timeout=30):
        return subprocess.run([str(a) for a in argv], env=env or self.env, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=timeout)

    def start_foot(self):
        self.foot = self.spawn(["foot", "sh", "-c", "stty raw -echo; exec cat > %s" % self.typed_path], "foot")
        wait_for("foot with the focus", lambda: self.focused() == "foot" and os.path.exists(self.typed_path))
        time.sleep(0.2)  # cat is reading once stty has run

    def start_keyboard(self, *args, wait=True, **extra_env):
        self.keyboard = self.spawn([self.keyboard_exe, *args], "vimbrel", dict(self.env, **extra_env))
        if wait:
            self.origin = self.wait_placed()
        return self.keyboard

    def wait_placed(self, where=None):
        """The keyboard's top-left corner once it is drawn and stays put (at `where`, if given)."""
        last = [None]

        def settled():
            rect = self.keyboard_rect()
            done = rect is not None and rect == last[0] and (where is None or rect[:2] == where)
            last[0] = rect
            return rect[:2] if done else None
        try:
            return wait_for("the keyboard drawn" + (" at %r" % (where,) if where else ""), settled)
        except CaseFailure as failure:
            raise CaseFailure("%s (last at %r)" % (failure, last[0]))

    def typed(self):
        with open(self.typed_path, "rb") as f:
            return f.read()

    # --- sway ------------------------------------------------------------------

    def tree(self):
        out = self.run("swaymsg", "-r", "-t", "get_tree")
        return json.loads(out.stdout) if out.returncode == 0 else {}

    def windows(self):
        """(app_id or X class, title, shell, focused) of every window."""
        found = []

        def walk(node):
            if node.get("type") in ("con", "floating_con") and node.get("pid"):
                klass = (node.get("window_properties") or {}).get("class")
                found.append((node.get("app_id") or klass, node.get("name"), node.get("shell"), node.get("focused")))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(self.tree())
        return found

    def focused(self):
        return next((w[0] for w in self.windows() if w[3]), None)

    # --- the screen ------------------------------------------------------------

    def shot(self):
        """The output as rows of RGB bytes."""
        data = self.run("grim", "-t", "ppm", "-").stdout
        magic, width, height, maxval, pixels_ = data.split(maxsplit=4) if data else (b"",) * 5
        check(magic == b"P6" and (int(width), int(height)) == (WIDTH, HEIGHT) and maxval == b"255",
              "grim gave no picture")
        pixels_ = data[-WIDTH * HEIGHT * 3:]
        return [pixels_[r * WIDTH * 3:(r + 1) * WIDTH * 3] for r in range(HEIGHT)]

    def keyboard_rect(self, rows=None):
        """(left, top, width, height) of the window's grey background, or None."""
        rows = rows or self.shot()
        top = bottom = left = right = None
        for y, row in enumerate(rows):
            first = _aligned_find(row, BACKGROUND)
            if first < 0:
                continue
            last = _aligned_rfind(row, BACKGROUND)
            top = y if top is None else top
            bottom = y
            left = first if left is None else min(left, first)
            right = last + 15 if right is None else max(right, last + 15)
        return None if top is None else (left, top, right - left + 1, bottom - top + 1)

    # --- the pointer -------------------------------------------------------------

    def pointer_do(self, *commands):
        for command in commands:
            self.pointer.stdin.write(command + "\n")
            self.pointer.stdin.flush()
            answer = self.pointer.stdout.readline().strip()
            check(answer == "ok", "w_pointer: %s -> %r" % (command, answer))

    def move(self, x, y):
        """A motion to where the pointer already is is dropped: it comes from a pixel beside."""
        self.pointer_do("move %d %d" % (x - 1, y), "move %d %d" % (x, y))
        time.sleep(0.03)

    def click(self, *keys, button="left"):
        """Clicks each key (or (x, y) point) in turn."""
        for key in keys:
            self.move(*(key if isinstance(key[0], int) else self.point(key)))
            self.pointer_do("press " + button, "release " + button)
            time.sleep(0.05)

    def point(self, key):
        left, top, width, height = LAYOUT[key]
        x0, y0 = self.origin
        return (x0 + (pixels(left, 96) + pixels(left + width, 96)) // 2,
                y0 + (pixels(top, 96) + pixels(top + height, 96)) // 2)

    def background(self):
        """A point of the keyboard's background: the gap between Escape and F1."""
        return self.origin[0] + pixels(720, 96), self.origin[1] + pixels(200, 96)

    def choose_from_menu(self, row):
        """Opens the pop-up menu on the background and clicks its item `row` (0 to 3):
        the menu is what a screenshot shows changed, its four items evenly down it."""
        before = self.shot()
        self.click(self.background(), button="right")
        last = [None]

        def drawn():  # the same twice: the menu is drawn whole
            box, last[0] = last[0], _changed_box(before, self.shot(), self.background())
            return box if box and box == last[0] else None
        box = wait_for("the pop-up menu", drawn)
        left, top, width, height = box
        self.click((left + width // 2, top + height * (2 * row + 1) // 8))


def _aligned_find(row, pixel):
    at = row.find(pixel)
    while at >= 0 and at % 3:
        at = row.find(pixel, at + 1)
    return at // 3 if at >= 0 else -1


def _aligned_rfind(row, pixel):
    at = row.rfind(pixel)
    while at >= 0 and at % 3:
        at = row.rfind(pixel, 0, at + len(pixel) - 1)
    return at // 3 if at >= 0 else -1


def _changed_box(before, after, around, reach=300):
    """(left, top, width, height) of the pixels that differ within `reach` of the
    point `around`, if any (foot's title and cursor change as the focus comes and goes)."""
    x0, y0 = max(around[0] - reach, 0), max(around[1] - reach, 0)
    x1, y1 = min(around[0] + reach, WIDTH), min(around[1] + reach, HEIGHT)
    box = None
    for y in range(y0, y1):
        a, b = before[y][3 * x0:3 * x1], after[y][3 * x0:3 * x1]
        if a == b:
            continue
        diff = [x for x in range(0, len(a), 3) if a[x:x + 3] != b[x:x + 3]]
        left, right = x0 + diff[0] // 3, x0 + diff[-1] // 3
        box = (left, y, right, y) if box is None else (min(box[0], left), box[1], max(box[2], right), y)
    return None if box is None else (box[0], box[1], box[2] - box[0] + 1, box[3] - box[1] + 1)


def bottom_centre():
    """Where the keyboard belongs at 96 dpi: centred, 450 twips above the output's bottom."""
    width, height = pixels(11040, 96), pixels(2640, 96)
    return (pixels(WIDTH * 15 / 2 - width * 15 / 2, 96), pixels(HEIGHT * 15 - height * 15 - 450, 96))


# --- the cases ---------------------------------------------------------------------


def case_typing(desktop):
    """Clicks type exact bytes into cat in foot: letters, a space, Shift and Ctrl latched
    around a key, Caps Lock, Alt around a key, the keypad under the keyboard's own Num
    Lock, keypad Enter. foot keeps the focus through clicks on keys, the background and
    the lights."""
    with Wayland(desktop, "wayland_typing") as w:
        w.start_foot()
        w.start_keyboard()
        check(w.focused() == "foot", "the keyboard took the focus when it appeared (%r)" % w.focused())
        shift, ctrl, alt, caps = ("换档", 160), ("控制", 163), ("转换", 164), ("大写锁", 0)
        w.click(("SKB", 72), ("SKB", 73), ("SKB", 32), shift, ("SKB", 72), shift, caps, ("SKB", 65), shift,
                ("SKB", 65), shift, caps, ctrl, ("SKB", 67), ctrl, alt, ("SKB", 88), alt, ("SKB", 49),
                ("小键盘", 103), ("小键盘", 110), w.background(), w.point(("数字灯", 0)), ("小回车", 0))
        want = b"hi HAa\x03\x1bx17.\r"
        wait_for("foot to receive %r (has %r)" % (want, w.typed()), lambda: len(w.typed()) >= len(want))
        time.sleep(0.3)
        check(w.typed() == want, "cat received %r, expected %r" % (w.typed(), want))
        check(w.focused() == "foot", "after the clicks the focus is on %r" % w.focused())
        check(w.keyboard.poll() is None, "the keyboard exited")


def _geometry_problems(rows, origin):
    """Keys not drawn at their twips rectangles: each key's raised edge at its corners."""
    problems = []
    x0, y0 = origin
    for key in KEYS:
        left, top, width, height = LAYOUT[key]
        l, t = pixels(left, 96) + x0, pixels(top, 96) + y0
        r, b = pixels(left + width, 96) - 1 + x0, pixels(top + height, 96) - 1 + y0
        corners = (tuple(rows[t][3 * l:3 * l + 3]), tuple(rows[b][3 * r:3 * r + 3]))
        if corners != (EDGE_LIGHT, EDGE_DARK):
            problems.append("%s(%d): edge corners %r at (%d,%d)-(%d,%d)" % (key + (corners, l, t, r, b)))
    return problems


def case_geometry_drag(desktop):
    """The layer surface is 736 x 176 at the bottom centre, every key at its twips
    rectangle; dragged by its background it follows the pointer, and a key click leaves
    it there."""
    with Wayland(desktop, "wayland_geometry_drag") as w:
        w.start_foot()
        w.start_keyboard()
        rows = w.shot()
        rect = w.keyboard_rect(rows)
        check(rect == bottom_centre() + (736, 176), "the keyboard is at %r, expected %r" % (rect, bottom_centre()
                                                                                          + (736, 176)))
        problems = _geometry_problems(rows, w.origin)
        check(not problems, "\n".join(problems[:10]))
        x, y = w.background()
        w.move(x, y)
        w.pointer_do("press")
        for step in range(1, 6):
            w.pointer_do("move %d %d" % (x - 20 * step, y - 60 * step))
            time.sleep(0.1)
        w.pointer_do("release")
        moved = (w.origin[0] - 100, w.origin[1] - 300)
        w.origin = w.wait_placed(moved)
        w.click(("SKB", 65))
        time.sleep(0.3)
        check(w.keyboard_rect()[:2] == moved, "a key click moved the dragged keyboard to %r" % (w.keyboard_rect(),))
        check(w.typed() == b"a", "cat received %r" % w.typed())
        check(w.focused() == "foot", "after the drag the focus is on %r" % w.focused())


def case_one_per_display(desktop):
    """最新版本 hides the keyboard and hands the address to xdg-open; a second start ends
    at once with 0 and shows the first again, at the bottom centre, foot keeping the focus."""
    with Wayland(desktop, "wayland_one_per_display") as w:
        w.start_foot()
        w.start_keyboard()
        w.choose_from_menu(3)
        wait_for("the keyboard hidden", lambda: w.keyboard_rect() is None)
        opened = os.path.join(w.dir, "opened")
        wait_for("xdg-open to run", lambda: os.path.exists(opened))
        with open(opened) as f:
            check(f.read().strip() == ADDRESS, "xdg-open was given another address")
        second = w.run(w.keyboard_exe, timeout=10)
        check(second.returncode == 0, "the second start exited with %d" % second.returncode)
        w.wait_placed(bottom_centre())
        check(w.keyboard.poll() is None, "the first keyboard exited")
        check(w.focused() == "foot", "after coming back the focus is on %r" % w.focused())


def case_ways_out(desktop):
    """Ended by SIGTERM, SIGINT or SIGHUP with Shift and Ctrl latched, the keyboard lets
    go and exits with 0; when the compositor goes away, it ends too (status 1).
    (What a virtual keyboard held is let go of by sway itself when the keyboard goes
    away, so no client can tell whether the keyboard let go first: wtype types a small
    z after it either way. The exit status tells that the way out was taken.)"""
    with Wayland(desktop, "wayland_ways_out") as w:
        w.start_foot()
        typed = b""
        for how in ("SIGTERM", "SIGINT", "SIGHUP"):
            w.start_keyboard()
            w.click(("换档", 160), ("SKB", 81), ("控制", 162))
            typed += b"Q"
            wait_for("Q at foot (%s)" % how, lambda: w.typed() == typed)
            w.keyboard.send_signal(getattr(signal, how))
            wait_for("the keyboard to exit after %s" % how, lambda: w.keyboard.poll() is not None)
            check(w.keyboard.returncode == 0, "%s: exit status %d" % (how, w.keyboard.returncode))
        w.start_keyboard()
        sessionlib.stop(w.state)
        wait_for("the keyboard to exit with its compositor", lambda: w.keyboard.poll() is not None)
        check(w.keyboard.returncode == 1, "the compositor gone: exit status %d" % w.keyboard.returncode)


def case_backend_choice(desktop):
    """Forced to X11 (--x11, GDK_BACKEND=x11) the keyboard runs through XWayland and
    says nothing more than on X11; where the compositor lacks the layer shell (faked)
    it runs there too and says so in a message box, once per session."""
    with Wayland(desktop, "wayland_backend_choice", xwayland=True) as w:
        def xwayland_windows(title):
            return [win for win in w.windows() if win[1] == title and win[2] == "xwayland"]

        problems = []
        # (arguments, environment, whether the message box shows)
        for args, env, notice in ((("--x11",), {}, False), ((), {"GDK_BACKEND": "x11"}, False),
                                  ((), {"VIMBREL_HIDE_GLOBALS": "zwlr_layer_shell_v1"}, True),
                                  ((), {"VIMBREL_HIDE_GLOBALS": "zwp_virtual_keyboard_manager_v1"}, False)):
            what = " ".join(list(args) + ["%s=%s" % kv for kv in env.items()])
            w.start_keyboard(*args, wait=False, **env)
            wait_for("the keyboard as an XWayland window (%s)" % what, lambda: xwayland_windows(KEYBOARD_TITLE))
            if notice:
                box = wait_for("the message box", lambda: xwayland_windows("Vimbrel"))
                # Modal, it has the focus, and gives it back when closed.
                if not box[0][3]:
                    problems.append("%s: the message box does not have the focus" % what)
                w.run("swaymsg", '[title="^Vimbrel$"] kill')
                wait_for("the message box to close", lambda: not xwayland_windows("Vimbrel"))
            else:
                time.sleep(1.0)
                if xwayland_windows("Vimbrel"):
                    problems.append("%s: a message box appeared" % what)
            w.keyboard.terminate()
            w.keyboard.wait(timeout=10)
        check(not problems, "\n".join(problems))
