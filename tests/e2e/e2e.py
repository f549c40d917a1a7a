#!/usr/bin/python3
"""End-to-end cases: the real vimbrel.exe under Wine, clicked with xdotool on a
virtual display, typing into keylog_target.exe, whose low-level keyboard hook
logs exactly what the system received.

    e2e.py --state STATE --win32-dir DIR --out-dir DIR CASE [CASE...]
    e2e.py --list

STATE is the file written by `session.py start` (default: $VIMBREL_E2E_STATE).
Each case starts its own keyboard and target and ends both, so cases run in any
order; CASE "all" runs every case.
"""

import argparse
import ctypes
import hashlib
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session as sessionlib  # noqa: E402

KEYBOARD_CLASS = "ScreenKeyboard"
KEYBOARD_TITLE = "VimbrelV9.9.9"
TARGET_CLASS = "VimbrelTarget"

WS_EX_TOPMOST = 0x00000008
WS_EX_NOACTIVATE = 0x08000000
LLKHF_EXTENDED = 0x01
LLKHF_UP = 0x80

# Control numbers as the keyboard encodes them in its control ids:
# 0x1000 | control << 8 | index (the virtual-key code in arrays, 0 for single buttons).
CONTROLS = {"SKB": 0, "小键盘": 1, "小回车": 2, "快捷菜单": 3, "徽标": 4, "转换": 5,
            "控制": 6, "换档": 7, "大写锁": 8, "数字锁": 9, "卷轴锁": 10}
LIGHT_IDS = {"数字灯": 0x2000, "大写灯": 0x2001, "卷轴灯": 0x2002}
LABEL_IDS = (0x2003, 0x2004, 0x2005)

# The 80 ordinary keys: each element index is the virtual-key code it sends.
SKB_CODES = ([8, 9, 13, 19, 27, 32] + list(range(33, 41)) + [44, 45, 46] + list(range(48, 58))
             + list(range(65, 91)) + [106, 107, 109, 111] + list(range(112, 124))
             + list(range(186, 193)) + list(range(219, 223)))
assert len(SKB_CODES) == 80 and len(set(SKB_CODES)) == 80

WHITE = (255, 255, 255)
HIGHLIGHT = (224, 255, 0)
RELEASED_BLUE = (111, 161, 217)
SILVER = (192, 192, 192)

KEY_WAIT = 3.0          # seconds for a click's key events to reach the hook
PAINT_WAIT = 2.0        # seconds for a colour change to reach the screen


def control_id(control, index=0):
    return 0x1000 | (CONTROLS[control] << 8) | index


def hex_text(text):
    return "".join("%04X" % ord(c) for c in text)


def key_name(vk):
    if 48 <= vk <= 57 or 65 <= vk <= 90:
        return "%d '%s'" % (vk, chr(vk))
    return str(vk)


class CaseFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailure(message)


class Rect:
    def __init__(self, text):
        self.left, self.top, self.right, self.bottom = (int(v) for v in text.split(","))

    @property
    def width(self):
        return self.right - self.left

    @property
    def height(self):
        return self.bottom - self.top

    @property
    def centre(self):
        return (self.left + self.right) // 2, (self.top + self.bottom) // 2

    def contains(self, x, y, margin=0):
        return (self.left - margin <= x < self.right + margin
                and self.top - margin <= y < self.bottom + margin)

    def __eq__(self, other):
        return (self.left, self.top, self.right, self.bottom) == (
            other.left, other.top, other.right, other.bottom)

    def __repr__(self):
        return "(%d,%d)-(%d,%d)" % (self.left, self.top, self.right, self.bottom)


def parse_line(line):
    """'name key=value flag ...' -> dict with 'name' and every key; bare words are True."""
    words = line.split()
    item = {"name": words[0]} if words else {}
    for word in words[1:]:
        key, eq, value = word.partition("=")
        item[key] = value if eq else True
    return item


class Screenshot:
    """The whole root window, read once, as 24-bit RGB."""

    def __init__(self, env):
        data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=env,
                              capture_output=True, check=True, timeout=30).stdout
        match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        check(match is not None, "screenshot is not a PPM image")
        self.width, self.height = int(match.group(1)), int(match.group(2))
        self.pixels = data[match.end():]

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.pixels[offset:offset + 3])


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def pointer_image(display):
    """The pointer image X shows now, as (width, height, xhot, yhot, digest of the pixels).

    GetCursorInfo under Wine reports the cursor of the foreground thread only,
    and the keyboard never is that thread; X itself shows whatever cursor the
    window under the pointer set, so two keys with the same image compare equal."""
    try:
        xlib = ctypes.CDLL("libX11.so.6")
        xfixes = ctypes.CDLL("libXfixes.so.3")
    except OSError as error:
        raise CaseFailure("cannot read the pointer image: %s" % error)
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xlib.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                            ctypes.POINTER(ctypes.c_int)]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    dpy = xlib.XOpenDisplay(display.encode())
    check(dpy, "cannot open display %s" % display)
    try:
        event_base, error_base = ctypes.c_int(), ctypes.c_int()
        check(xfixes.XFixesQueryExtension(dpy, ctypes.byref(event_base), ctypes.byref(error_base)),
              "the X server lacks XFIXES")
        image = xfixes.XFixesGetCursorImage(dpy)
        check(bool(image), "XFixesGetCursorImage failed")
        try:
            c = image.contents
            pixels = bytes(bytearray(
                b for i in range(c.width * c.height) for b in (c.pixels[i] & 0xFFFFFFFF).to_bytes(4, "little")))
            return (c.width, c.height, c.xhot, c.yhot, hashlib.sha1(pixels).hexdigest())
        finally:
            xlib.XFree(image)
    finally:
        xlib.XCloseDisplay(dpy)


class KeyLog:
    """Follows the target's log file."""

    def __init__(self, path):
        self.path = path
        self.seen = 0

    def lines(self):
        try:
            with open(self.path, encoding="ascii", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def mark(self):
        self.seen = len(self.lines())

    def since_mark(self):
        return [parse_line(line) for line in self.lines()[self.seen:] if line.strip()]

    def events(self):
        """Key events the hook saw since the mark, as (vk, up, scan, flags, extra)."""
        return [(int(e["vk"]), int(e["up"]), int(e["scan"]), int(e["flags"], 16),
                 int(e["extra"])) for e in self.since_mark() if e["name"] == "key"]

    def typed(self):
        """The characters the target received as WM_CHAR since the mark."""
        return "".join(chr(int(line.split()[1], 16)) for line in self.lines()[self.seen:]
                       if line.startswith("char "))

    def wait_events(self, count, timeout=KEY_WAIT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if len(self.events()) >= count:
                break
            time.sleep(0.03)
        return self.events()


class Desktop:
    """The shared session, the Win32 programs and the tools that drive them."""

    def __init__(self, state_path, win32_dir, out_dir):
        self.session = sessionlib.Session.load(state_path)
        self.env = self.session.env()
        self.out_dir = out_dir
        self.keyboard_exe = os.path.join(win32_dir, "vimbrel.exe")
        self.target_exe = self._helper(win32_dir, "keylog_target.exe")
        self.probe_exe = self._helper(win32_dir, "probe.exe")

    @staticmethod
    def _helper(win32_dir, name):
        for path in (os.path.join(win32_dir, "tests", "e2e", "win32", name),
                     os.path.join(win32_dir, name)):
            if os.path.exists(path):
                return path
        raise CaseFailure("%s not found under %s: build the win32 preset "
                          "(cmake --build --preset win32)" % (name, win32_dir))

    def start(self, exe, args, log_path):
        with open(log_path, "ab") as log:
            return subprocess.Popen(["wine", exe] + list(args), env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def probe(self, *args):
        result = subprocess.run(["wine", self.probe_exe] + [str(a) for a in args], env=self.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=60)
        if result.returncode == 2:
            raise CaseFailure("probe %s: %s" % (" ".join(map(str, args)), result.stderr.strip()))
        return [parse_line(line) for line in result.stdout.splitlines() if line.strip()]

    def probe_one(self, *args):
        items = self.probe(*args)
        check(len(items) == 1, "probe %s printed %r" % (args, items))
        return items[0]

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=30)

    def screenshot(self):
        return Screenshot(self.env)

    def pointer(self):
        return pointer_image(self.env["DISPLAY"])


class Window:
    def __init__(self, item):
        check("none" not in item, "no window of class %s" % item.get("class"))
        self.hwnd = item["hwnd"]
        self.pid = int(item["pid"])
        self.rect = Rect(item["window"])
        self.client = Rect(item["client"])
        self.style = int(item["style"], 16)
        self.exstyle = int(item["exstyle"], 16)
        self.title = item["title"]


class Child:
    def __init__(self, item):
        self.id = int(item["id"], 16)
        self.cls = item["class"]
        self.rect = Rect(item["window"])
        self.text = item.get("text", "")


class Run:
    """One case's keyboard and target: started fresh, ended at the end whatever happened."""

    def __init__(self, desktop, case):
        self.desktop = desktop
        self.dir = os.path.join(desktop.out_dir, case)
        os.makedirs(self.dir, exist_ok=True)
        self.log = KeyLog(os.path.join(self.dir, "target.log"))
        self.procs = []
        self.keyboard_proc = None

    def __enter__(self):
        try:
            return self._start()
        except BaseException as error:
            self.__exit__(type(error), error, None)
            raise

    def _start(self):
        d = self.desktop
        check(d.probe_one("count", KEYBOARD_CLASS)["n"] == "0",
              "a keyboard window is left over from an earlier run")
        # The pointer starts off both windows.
        d.xdotool("mousemove", 1200, 300)
        if os.path.exists(self.log.path):
            os.remove(self.log.path)
        # The keyboard first: the target started after it takes the foreground.
        self.keyboard_proc = d.start(d.keyboard_exe, [], os.path.join(self.dir, "vimbrel.out"))
        self.procs.append(self.keyboard_proc)
        Window(d.probe_one("wait", KEYBOARD_CLASS, 20000))
        self.keyboard = self._settled_keyboard()
        self.target_proc = d.start(d.target_exe, [sessionlib.windows_path(self.log.path)],
                                   os.path.join(self.dir, "target.out"))
        self.procs.append(self.target_proc)
        deadline = time.monotonic() + 20
        while not any(line.startswith("ready") for line in self.log.lines()):
            check(time.monotonic() < deadline, "the target did not start")
            check(self.target_proc.poll() is None, "the target exited at start")
            time.sleep(0.1)
        check("hook=1" in next(l for l in self.log.lines() if l.startswith("ready")),
              "the target could not install its keyboard hook")
        while self.foreground_class() != TARGET_CLASS:
            check(time.monotonic() < deadline, "the target did not take the foreground")
            time.sleep(0.1)
        self.children = {c.id: c for c in (Child(i) for i in d.probe("children")
                                           if i["name"] == "child")}
        self.log.mark()
        return self

    def __exit__(self, exc_type, exc, tb):
        d = self.desktop
        for cls in (KEYBOARD_CLASS, TARGET_CLASS):
            try:
                d.probe("close", cls)
            except Exception:  # the session itself may be gone; the PIDs below still go
                pass
        hung = []
        for proc in self.procs:
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                hung.append(proc)
                proc.kill()
                proc.wait(timeout=5)
        d.xdotool("mousemove", 1200, 300)
        if self.keyboard_proc in hung and exc_type is None:
            raise CaseFailure("the keyboard did not exit within 5 s of WM_CLOSE and was killed")
        return False

    def _settled_keyboard(self):
        """The keyboard once start-up is over: it is first shown where its
        layout puts it and moves to the bottom centre with its first paint."""
        deadline = time.monotonic() + 5
        last = None
        while True:
            window = self.keyboard_window()
            state = (window.rect.left, window.rect.top, window.rect.right, window.rect.bottom,
                     window.exstyle)
            if state == last or time.monotonic() > deadline:
                return window
            last = state
            time.sleep(0.3)

    # --- reading the windows -------------------------------------------------

    def foreground_class(self):
        return self.desktop.probe_one("foreground").get("class")

    def keyboard_window(self):
        return Window(self.desktop.probe_one("keyboard"))

    def key(self, control, index=0):
        child = self.children.get(control_id(control, index))
        check(child is not None, "no key %s(%d) (id 0x%04x) on the keyboard"
              % (control, index, control_id(control, index)))
        return child

    def background_point(self):
        """A point of the keyboard's client area that no child covers, with room
        around it, nearest the top-left corner (the gap above the keys)."""
        client = self.keyboard.client
        children = list(self.children.values())
        for y in range(client.top + 3, client.bottom - 3):
            for x in range(client.left + 3, client.right - 3):
                if not any(c.rect.contains(x, y, margin=3) for c in children):
                    return x, y
        raise CaseFailure("no background point free of keys in the client area %r" % client)

    # --- driving ---------------------------------------------------------------

    def click(self, child, repeat=1):
        x, y = child.rect.centre
        if repeat == 1:
            self.desktop.xdotool("mousemove", x, y, "click", 1)
        else:
            self.desktop.xdotool("mousemove", x, y, "click", "--repeat", repeat, "--delay", 80, 1)

    def press_background(self, x, y):
        self.desktop.xdotool("mousemove", x, y, "mousedown", 1, "sleep", 0.3, "mouseup", 1)

    def wait_colour(self, points, colour, timeout=PAINT_WAIT):
        """Polls the screen until every point shows the colour; returns what they showed."""
        deadline = time.monotonic() + timeout
        while True:
            shot = self.desktop.screenshot()
            seen = [shot.pixel(x, y) for x, y in points]
            if all(s == colour for s in seen) or time.monotonic() >= deadline:
                return seen
            time.sleep(0.1)


def face_points(child):
    """Two pixels of a key's face inside its raised edge and clear of the centred caption."""
    r = child.rect
    return [(r.left + 3, r.top + 3), (r.right - 4, r.top + 3)]


def stroke(vk):
    return [(vk, 0), (vk, 1)]


def stroke_problems(events, expected_vks):
    """Compares the hook's events with strokes of the expected codes: press then
    release of each, scan code 0, no extended flag, extra information 0."""
    problems = []
    want = [pair for vk in expected_vks for pair in stroke(vk)]
    got = [(vk, up) for vk, up, _, _, _ in events]
    if got != want:
        problems.append("events %s, expected %s" % (
            [("%d%s" % (vk, "^" if up else "v")) for vk, up in got],
            [("%d%s" % (vk, "^" if up else "v")) for vk, up in want]))
    for vk, up, scan, flags, extra in events:
        if scan != 0:
            problems.append("vk %d %s has scan code %d" % (vk, "up" if up else "down", scan))
        if flags & LLKHF_EXTENDED:
            problems.append("vk %d %s has the extended flag (flags 0x%x)"
                            % (vk, "up" if up else "down", flags))
        if bool(flags & LLKHF_UP) != bool(up):
            problems.append("vk %d: up flag disagrees with flags 0x%x" % (vk, flags))
        if extra != 0:
            problems.append("vk %d %s has extra information %d" % (vk, "up" if up else "down", extra))
    return problems


# --- the cases -------------------------------------------------------------------

def case_ordinary_keys(desktop):
    """Every ordinary key sends exactly one press and one release of its own code."""
    failures = []
    with Run(desktop, "ordinary_keys") as run:
        for vk in SKB_CODES:
            key = run.key("SKB", vk)
            run.log.mark()
            run.click(key)
            events = run.log.wait_events(2)
            time.sleep(0.05)  # anything beyond the stroke shows up here or with the next key
            events = run.log.events()
            for problem in stroke_problems(events, [vk]):
                failures.append("key %s: %s" % (key_name(vk), problem))
        run.log.mark()
        time.sleep(0.5)
        late = run.log.events()
        if late:
            failures.append("events after the last click: %s" % late)
        lost = [n for n, line in enumerate(run.log.lines(), 1) if line == "focus out"]
        if lost:
            failures.append("the target lost the keyboard focus (target.log lines %s)" % lost)
    check(not failures, "\n".join(failures))
    print("all %d ordinary keys sent one clean stroke each" % len(SKB_CODES))


def case_double_click(desktop):
    """Two quick clicks on one key type it twice."""
    with Run(desktop, "double_click") as run:
        run.click(run.key("SKB", ord("D")), repeat=2)
        events = run.log.wait_events(4)
        time.sleep(0.3)
        events = run.log.events()
        problems = stroke_problems(events, [ord("D"), ord("D")])
        check(not problems, "double click on D: " + "; ".join(problems))
        typed = run.log.typed()
        check(typed == "dd", "double click on D typed %r into the target, expected 'dd'" % typed)
    print("double click on D: two strokes, typed 'dd'")


def case_focus_stays(desktop):
    """Clicking keys and pressing the background never takes the foreground or
    the keyboard focus from the target."""
    failures = []
    with Run(desktop, "focus_stays") as run:
        for vk in (ord("Q"), 32, ord("Z")):
            run.click(run.key("SKB", vk))
            run.log.wait_events(2)
            run.log.mark()
        if run.foreground_class() != TARGET_CLASS:
            failures.append("after key clicks the foreground window is %s"
                            % run.foreground_class())
        x, y = run.background_point()
        run.press_background(x, y)
        time.sleep(0.3)
        if run.foreground_class() != TARGET_CLASS:
            failures.append("after a press on the keyboard background at (%d,%d) the foreground "
                            "window is %s" % (x, y, run.foreground_class()))
        # The target still has the keyboard focus: a key typed now arrives as a character.
        run.log.mark()
        run.click(run.key("SKB", ord("K")))
        run.log.wait_events(2)
        deadline = time.monotonic() + KEY_WAIT
        while run.log.typed() != "k" and time.monotonic() < deadline:
            time.sleep(0.05)
        if run.log.typed() != "k":
            failures.append("K clicked after the background press typed %r into the target"
                            % run.log.typed())
        lost = [line for line in run.log.lines() if line == "focus out"]
        if lost:
            failures.append("the target lost the keyboard focus %d time(s)" % len(lost))
        # The styles that make this so, read now that start-up has long finished.
        exstyle = run.keyboard_window().exstyle
        for bit, name in ((WS_EX_NOACTIVATE, "WS_EX_NOACTIVATE"), (WS_EX_TOPMOST, "WS_EX_TOPMOST")):
            if not exstyle & bit:
                failures.append("the keyboard window lacks %s (exstyle 0x%08x)" % (name, exstyle))
    check(not failures, "\n".join(failures))
    print("target kept the foreground and the focus; keyboard exstyle 0x%08x" % exstyle)


def case_highlight(desktop):
    """The key last clicked is lit; the one clicked before it is white again."""
    with Run(desktop, "highlight") as run:
        first, second = run.key("SKB", ord("A")), run.key("SKB", ord("S"))
        seen = run.wait_colour(face_points(first), WHITE)
        check(all(s == WHITE for s in seen), "A is %s before any click, expected white" % seen)
        run.click(first)
        run.log.wait_events(2)
        seen = run.wait_colour(face_points(first), HIGHLIGHT)
        check(all(s == HIGHLIGHT for s in seen),
              "A after its click shows %s at %s, expected highlight %s"
              % (seen, face_points(first), HIGHLIGHT))
        run.click(second)
        run.log.wait_events(4)
        seen = run.wait_colour(face_points(second), HIGHLIGHT)
        check(all(s == HIGHLIGHT for s in seen),
              "S after its click shows %s, expected highlight" % seen)
        seen = run.wait_colour(face_points(first), WHITE)
        check(all(s == WHITE for s in seen), "A after S was clicked shows %s, expected white" % seen)
    print("clicked key lit %s, previous key white again" % (HIGHLIGHT,))


def expected_placement(desktop, window):
    screen = desktop.probe_one("screen")
    width, height, dpi = int(screen["width"]), int(screen["height"]), int(screen["dpiy"])
    margin = round(450 * dpi / 1440)
    return (width - window.rect.width) / 2, height - window.rect.height - margin


def check_bottom_centre(desktop, window, when):
    left, top = expected_placement(desktop, window)
    check(abs(window.rect.left - left) <= 1 and abs(window.rect.top - top) <= 1,
          "%s the keyboard's outer rect is %r; bottom centre is left %.1f, top %d"
          % (when, window.rect, left, top))


def case_placement(desktop):
    """Bottom centre at start; a drag by the background moves it; the next paint puts it back."""
    with Run(desktop, "placement") as run:
        start = run.keyboard_window()
        check_bottom_centre(desktop, start, "at start")
        x, y = run.background_point()
        dx, dy = -150, -300
        run.desktop.xdotool("mousemove", x, y, "mousedown", 1, "sleep", 0.3,
                            "mousemove", x + dx // 3, y + dy // 3, "sleep", 0.1,
                            "mousemove", x + 2 * dx // 3, y + 2 * dy // 3, "sleep", 0.1,
                            "mousemove", x + dx, y + dy, "sleep", 0.3, "mouseup", 1)
        time.sleep(0.5)
        moved = run.keyboard_window()
        check(abs(moved.rect.left - (start.rect.left + dx)) <= 2
              and abs(moved.rect.top - (start.rect.top + dy)) <= 2,
              "dragging the background from (%d,%d) by (%d,%d) left the keyboard at %r "
              "(it was at %r)" % (x, y, dx, dy, moved.rect, start.rect))
        run.desktop.probe("invalidate")
        deadline = time.monotonic() + 3
        while True:
            back = run.keyboard_window()
            if back.rect == start.rect or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        check_bottom_centre(desktop, back, "after the repaint")
    print("at bottom centre %r, dragged to %r, back after a repaint" % (start.rect, moved.rect))


def case_single_instance(desktop):
    """A second copy ends at once; the first keeps its one window where it was."""
    with Run(desktop, "single_instance") as run:
        before = run.keyboard_window()
        second = desktop.start(desktop.keyboard_exe, [], os.path.join(run.dir, "second.out"))
        run.procs.append(second)
        try:
            code = second.wait(timeout=5)
        except subprocess.TimeoutExpired:
            raise CaseFailure("the second copy still runs after 5 s")
        count = desktop.probe_one("count", KEYBOARD_CLASS)
        check(count["n"] == "1", "%s ScreenKeyboard windows after the second start" % count["n"])
        after = run.keyboard_window()
        check(after.hwnd == before.hwnd and after.rect == before.rect,
              "the first keyboard changed: %s %r, was %s %r"
              % (after.hwnd, after.rect, before.hwnd, before.rect))
        check(run.foreground_class() == TARGET_CLASS,
              "the second start took the foreground to %s" % run.foreground_class())
    print("second copy exited with code %d; one keyboard window, unchanged" % code)


def case_screenshot(desktop):
    """A picture of the running keyboard, for people."""
    with Run(desktop, "screenshot") as run:
        window = run.keyboard_window()
        check(window.title == hex_text(KEYBOARD_TITLE),
              "keyboard title is %s, expected %s" % (window.title, hex_text(KEYBOARD_TITLE)))
        path = os.path.join(desktop.out_dir, "keyboard.png")
        r = window.rect
        subprocess.run(["import", "-window", "root", "-crop",
                        "%dx%d+%d+%d" % (r.width, r.height, r.left, r.top), "+repage", path],
                       env=desktop.env, check=True, timeout=30)
        full = os.path.join(desktop.out_dir, "desktop.png")
        subprocess.run(["import", "-window", "root", full], env=desktop.env, check=True,
                       timeout=30)
        check(os.path.getsize(path) > 0, "empty screenshot %s" % path)
    print("screenshot of the keyboard: %s" % path)
    print("screenshot of the whole desktop: %s" % full)


CASES = {
    "ordinary_keys": case_ordinary_keys,
    "double_click": case_double_click,
    "focus_stays": case_focus_stays,
    "highlight": case_highlight,
    "placement": case_placement,
    "single_instance": case_single_instance,
    "screenshot": case_screenshot,
}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--state", default=os.environ.get("VIMBREL_E2E_STATE"))
    parser.add_argument("--win32-dir")
    parser.add_argument("--out-dir", default=os.getcwd())
    parser.add_argument("--list", action="store_true")
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args(argv[1:])
    if args.list:
        print("\n".join(CASES))
        return 0
    names = list(CASES) if args.cases == ["all"] else args.cases
    unknown = [n for n in names if n not in CASES]
    if not names or unknown or not args.state or not args.win32_dir:
        parser.error("need --state, --win32-dir and known cases (unknown: %s)" % unknown)
    if not os.path.exists(os.path.join(args.win32_dir, "vimbrel.exe")):
        print("FAIL: %s/vimbrel.exe does not exist: build the win32 preset first "
              "(cmake --preset win32 && cmake --build --preset win32)" % args.win32_dir)
        return 1
    os.makedirs(args.out_dir, exist_ok=True)
    failed = []
    try:
        desktop = Desktop(args.state, args.win32_dir, args.out_dir)
    except CaseFailure as failure:
        print("FAIL: %s" % failure)
        return 1
    for name in names:
        started = time.monotonic()
        try:
            CASES[name](desktop)
            print("PASS %s (%.1f s)" % (name, time.monotonic() - started))
        except CaseFailure as failure:
            failed.append(name)
            print("FAIL %s (%.1f s):\n%s" % (name, time.monotonic() - started, failure))
        sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
