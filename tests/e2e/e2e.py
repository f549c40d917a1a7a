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
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session as sessionlib  # noqa: E402
import native_cases  # noqa: E402

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

    def region(self, rect):
        """The pixels of a rectangle, row by row, as RGB bytes."""
        return b"".join(self.pixels[(y * self.width + rect.left) * 3:(y * self.width + rect.right) * 3]
                        for y in range(rect.top, rect.bottom))

    def count(self, rect, colour):
        """How many pixels of the rectangle show exactly this colour."""
        data = self.region(rect)
        return sum(1 for i in range(0, len(data), 3) if tuple(data[i:i + 3]) == colour)

    def save(self, rect, path):
        with open(path, "wb") as f:
            f.write(b"P6 %d %d 255\n" % (rect.width, rect.height) + self.region(rect))


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


class PointerImage:
    """The pointer X shows: its size, hot spot and pixels as 32-bit ARGB values, row by row."""

    def __init__(self, width, height, xhot, yhot, pixels):
        self.width, self.height, self.xhot, self.yhot = width, height, xhot, yhot
        self.pixels = tuple(pixels)

    def key(self):
        return (self.width, self.height, self.xhot, self.yhot,
                hashlib.sha1(b"".join(p.to_bytes(4, "little") for p in self.pixels)).hexdigest())

    def __eq__(self, other):
        return self.key() == other.key()

    def __repr__(self):
        return "%dx%d pointer, hot spot (%d,%d)" % (self.width, self.height, self.xhot, self.yhot)


def read_pointer(display):
    """The pointer image X shows now.

    GetCursorInfo under Wine reports the cursor of the foreground thread only,
    and the keyboard never is that thread; X itself shows whatever cursor the
    window under the pointer set."""
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
            return PointerImage(c.width, c.height, c.xhot, c.yhot,
                                (c.pixels[i] & 0xFFFFFFFF for i in range(c.width * c.height)))
        finally:
            xlib.XFree(image)
    finally:
        xlib.XCloseDisplay(dpy)


def pointer_image(display):
    """The pointer image X shows now, as (width, height, xhot, yhot, digest of the pixels):
    two keys with the same image compare equal."""
    return read_pointer(display).key()


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

    def wait_typed(self, text, timeout=KEY_WAIT):
        """Polls until the characters received since the mark are `text`; returns what they are."""
        deadline = time.monotonic() + timeout
        while self.typed() != text and time.monotonic() < deadline:
            time.sleep(0.03)
        return self.typed()

    def messages(self):
        """The key messages the target's window received since the mark, as ("down"|"up", vk)."""
        return [("down" if "down" in e else "up", int(e["vk"]))
                for e in self.since_mark() if e["name"] == "keymsg"]

    def wait_messages(self, count, timeout=KEY_WAIT):
        deadline = time.monotonic() + timeout
        while len(self.messages()) < count and time.monotonic() < deadline:
            time.sleep(0.03)
        return self.messages()

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

    def probe_process(self, *args):
        """Starts the probe for a command that keeps running (a window of its own) and
        prints while it runs; the caller reads its output and waits for it."""
        return subprocess.Popen(["wine", self.probe_exe] + [str(a) for a in args], env=self.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)

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
        # Clicks on each lock key: the system's locks outlive the keyboard and the
        # target, and the next case expects them as the session started.
        self.lock_clicks = {}

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
        for control, clicks in self.lock_clicks.items():
            if clicks % 2 and self.keyboard_proc is not None and self.keyboard_proc.poll() is None:
                try:
                    self.click(self.key(control))
                    time.sleep(0.3)
                except Exception:  # ending both programs below matters more
                    pass
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

    def click_lock(self, control):
        """Clicks a lock key and keeps count, so that the run ends with the system's lock as it found it."""
        self.click(self.key(control))
        self.lock_clicks[control] = self.lock_clicks.get(control, 0) + 1

    def enter_keyboard(self):
        """Moves the pointer onto the keyboard's background. Wine takes the state of the
        modifier keys from X again whenever the pointer enters one of its windows from
        outside, and X knows nothing of a modifier that the keyboard injected: while a
        modifier is latched, the pointer stays on the keyboard."""
        self.desktop.xdotool("mousemove", *self.background_point())

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


def event_text(vk, up):
    return "%d%s" % (vk, "^" if up else "v")


def event_problems(events, want):
    """Compares the hook's events with the expected (vk, up) pairs, in order, each
    with scan code 0, no extended flag and extra information 0."""
    problems = []
    got = [(vk, up) for vk, up, _, _, _ in events]
    if got != list(want):
        problems.append("events %s, expected %s" % ([event_text(*e) for e in got],
                                                    [event_text(*e) for e in want]))
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


def stroke_problems(events, expected_vks):
    """Compares the hook's events with strokes of the expected codes: press then
    release of each, clean as event_problems wants them."""
    return event_problems(events, [pair for vk in expected_vks for pair in stroke(vk)])


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


# --- stateful keys ---------------------------------------------------------------

def settled_events(log, count, settle=0.3):
    """The events since the mark once `count` have come and nothing more came for `settle` s."""
    log.wait_events(count)
    time.sleep(settle)
    return log.events()


def case_ctrl_c(desktop):
    """Latched left Ctrl, then C, then Ctrl again: the target gets Ctrl+C."""
    with Run(desktop, "ctrl_c") as run:
        ctrl, c = run.key("控制", 162), run.key("SKB", ord("C"))
        run.enter_keyboard()
        run.click(ctrl)
        run.log.wait_events(1)
        seen = run.wait_colour(face_points(ctrl), HIGHLIGHT)
        check(all(s == HIGHLIGHT for s in seen), "latched left Ctrl shows %s, expected highlight" % seen)
        run.click(c)
        run.log.wait_events(3)
        run.click(ctrl)
        problems = event_problems(settled_events(run.log, 4), [(162, 0), (67, 0), (67, 1), (162, 1)])
        check(not problems, "Ctrl, C, Ctrl: " + "; ".join(problems))
        typed = run.log.wait_typed("\x03")
        check(typed == "\x03", "the target received the characters %r, expected Ctrl+C (U+0003)" % typed)
        seen = run.wait_colour(face_points(ctrl), RELEASED_BLUE)
        check(all(s == RELEASED_BLUE for s in seen), "released left Ctrl shows %s, expected released blue"
              % seen)
    print("Ctrl down, C down, C up, Ctrl up; the target typed U+0003")


def case_caps_a(desktop):
    """Caps Lock on: A types "A"; Caps Lock off again: A types "a"."""
    with Run(desktop, "caps_a") as run:
        a = run.key("SKB", ord("A"))
        for state, letter in (("on", "A"), ("off", "a")):
            run.log.mark()
            run.click_lock("大写锁")
            run.log.wait_events(2)
            run.click(a)
            problems = stroke_problems(settled_events(run.log, 4), [20, ord("A")])
            check(not problems, "Caps Lock %s, then A: %s" % (state, "; ".join(problems)))
            typed = run.log.wait_typed(letter)
            check(typed == letter, "with Caps Lock %s, A typed %r, expected %r" % (state, typed, letter))
    print("Caps Lock on: A typed 'A'; off again: 'a'")


def case_shift_1(desktop):
    """Latched left Shift, then 1 types "!"; once Shift is released, 1 types "1"."""
    with Run(desktop, "shift_1") as run:
        shift, one = run.key("换档", 160), run.key("SKB", ord("1"))
        run.enter_keyboard()
        run.click(shift)
        run.log.wait_events(1)
        run.click(one)
        run.log.wait_events(3)
        run.click(shift)
        problems = event_problems(settled_events(run.log, 4), [(160, 0), (49, 0), (49, 1), (160, 1)])
        check(not problems, "Shift, 1, Shift: " + "; ".join(problems))
        typed = run.log.wait_typed("!")
        check(typed == "!", "1 with Shift latched typed %r, expected '!'" % typed)
        run.log.mark()
        run.click(one)
        problems = stroke_problems(settled_events(run.log, 2), [49])
        check(not problems, "1 after Shift was released: " + "; ".join(problems))
        typed = run.log.wait_typed("1")
        check(typed == "1", "1 after Shift was released typed %r, expected '1'" % typed)
    print("Shift latched: 1 typed '!'; released: '1'")


def case_numlock_keypad(desktop):
    """Num Lock off: the keypad sends editing keys, keypad 5 nothing; on again: digits."""
    with Run(desktop, "numlock_keypad") as run:
        keypad = lambda vk: run.key("小键盘", vk)  # noqa: E731
        run.click_lock("数字锁")
        problems = stroke_problems(settled_events(run.log, 2), [144])
        check(not problems, "Num Lock off: " + "; ".join(problems))
        # Keypad 5 between the two: anything it sent would stand between Up and Delete.
        run.log.mark()
        for vk, want in ((104, 2), (101, 2), (110, 4)):
            run.click(keypad(vk))
            run.log.wait_events(want)
        problems = stroke_problems(settled_events(run.log, 4), [38, 46])
        check(not problems, "Num Lock off, keypad 8, 5 and decimal point: " + "; ".join(problems))
        run.log.mark()
        run.click_lock("数字锁")
        problems = stroke_problems(settled_events(run.log, 2), [144])
        check(not problems, "Num Lock on again: " + "; ".join(problems))
        run.log.mark()
        run.click(keypad(97))
        problems = stroke_problems(settled_events(run.log, 2), [97])
        check(not problems, "Num Lock on, keypad 1: " + "; ".join(problems))
        # Wine makes no character of VK_NUMPAD1 without a scan code: the target's
        # window is shown to get the key itself.
        messages = run.log.wait_messages(2)
        check(messages == [("down", 97), ("up", 97)],
              "keypad 1 with Num Lock on reached the target's window as %s" % messages)
    print("Num Lock off: keypad 8 sent Up, 5 nothing, decimal point Delete; on: keypad 1 sent 97")


def case_keypad_enter_menu_key(desktop):
    """Keypad Enter sends exactly what the main Enter sends; the menu key sends 93."""
    with Run(desktop, "keypad_enter_menu_key") as run:
        run.click(run.key("小回车"))
        keypad_enter = settled_events(run.log, 2)
        problems = stroke_problems(keypad_enter, [13])
        check(not problems, "keypad Enter: " + "; ".join(problems))
        run.log.mark()
        run.click(run.key("SKB", 13))
        main_enter = settled_events(run.log, 2)
        check(keypad_enter == main_enter, "keypad Enter sent %s, the main Enter %s"
              % (keypad_enter, main_enter))
        run.log.mark()
        run.click(run.key("快捷菜单"))
        problems = stroke_problems(settled_events(run.log, 2), [93])
        check(not problems, "menu key: " + "; ".join(problems))
    print("keypad Enter sent the main Enter's 13 stroke; the menu key 93")


# --- captions and lights ---------------------------------------------------------

def full_width(text):
    return "".join(chr(ord(c) + 0xFEE0) for c in text)


# Each digit-row and punctuation key: its shifted character on top, its unshifted one below.
SYMBOL_KEYS = {48: (")", "0"), 49: ("!", "1"), 50: ("@", "2"), 51: ("#", "3"), 52: ("$", "4"),
               53: ("%", "5"), 54: ("^", "6"), 55: ("&", "7"), 56: ("*", "8"), 57: ("(", "9"),
               186: (":", ";"), 187: ("+", "="), 188: ("<", ","), 189: ("_", "-"), 190: (">", "."),
               191: ("?", "/"), 192: ("~", "`"), 219: ("{", "["), 220: ("|", "\\"), 221: ("}", "]"),
               222: ('"', "'")}
# Top characters written otherwise than full-width when emphasised and as they are when not:
# (emphasised, plain). The ampersand is doubled where the button would take it as an access key.
IRREGULAR_TOPS = {55: ("\uff06", "&&"), 189: ("___", "__"), 222: ("\u201d", "\u2033")}
# Each keypad key: its digit on top, its editing function below.
KEYPAD_KEYS = {96: ("0", "插"), 97: ("1", "尾"), 98: ("2", "↓"), 99: ("3", "后"), 100: ("4", "←"),
               101: ("5", "  "), 102: ("6", "→"), 103: ("7", "头"), 104: ("8", "↑"), 105: ("9", "前"),
               110: (".", "删")}
BACKSPACE_CAPTION = "退格\n←"


def expected_captions(caps, shift, numlock):
    """Captions of the letter, digit-row, punctuation, keypad and Backspace keys by control id,
    with one Shift at most: what a click would type is written full-width."""
    captions = {control_id("SKB", 8): BACKSPACE_CAPTION}
    capitals = caps != shift
    for vk in range(ord("A"), ord("Z") + 1):
        upper, lower = chr(vk), chr(vk + 32)
        captions[control_id("SKB", vk)] = (full_width(upper) + "\n" + lower if capitals
                                           else upper + "\n" + full_width(lower))
    for vk, (top, bottom) in SYMBOL_KEYS.items():
        emphasised, plain = IRREGULAR_TOPS.get(vk, (full_width(top), top))
        captions[control_id("SKB", vk)] = (emphasised + "\n" + bottom if shift
                                           else plain + "\n" + full_width(bottom))
    for vk, (digit, function) in KEYPAD_KEYS.items():
        top = full_width(digit) if numlock and not shift else digit
        captions[control_id("小键盘", vk)] = top + "\n" + function
    return captions


def from_hex(text):
    return "".join(chr(int(text[i:i + 4], 16)) for i in range(0, len(text), 4))


def caption_problems(run, want, timeout=PAINT_WAIT):
    """Polls the keys' window texts until they equal `want`; returns the differences left."""
    deadline = time.monotonic() + timeout
    while True:
        texts = {int(i["id"], 16): from_hex(i.get("text", ""))
                 for i in run.desktop.probe("children") if i["name"] == "child"}
        wrong = ["key 0x%04x shows %r, expected %r" % (cid, texts.get(cid), text)
                 for cid, text in sorted(want.items()) if texts.get(cid) != text]
        if not wrong or time.monotonic() >= deadline:
            return wrong
        time.sleep(0.2)


def light_problems(run, light, colour, name):
    """The light's dot shows in this colour, and not in the other state's."""
    other = RELEASED_BLUE if colour == HIGHLIGHT else HIGHLIGHT
    rect = run.children[LIGHT_IDS[light]].rect
    deadline = time.monotonic() + PAINT_WAIT
    while True:
        shot = run.desktop.screenshot()
        lit, wrong = shot.count(rect, colour), shot.count(rect, other)
        if (lit >= 6 and wrong == 0) or time.monotonic() >= deadline:
            break
        time.sleep(0.1)
    if lit >= 6 and wrong == 0:
        return []
    return ["%s: the %s dot at %r has %d pixels of %s and %d of %s, expected it %s"
            % (name, light, rect, lit, colour, wrong, other,
               "lit" if colour == HIGHLIGHT else "dark")]


def case_captions_readback(desktop):
    """The captions the keys hold after start and after each lock and Shift click,
    and the Caps Lock and Num Lock lights and buttons on screen."""
    steps = (  # what is clicked, then Caps Lock, Shift, Num Lock as they are afterwards
        ("at start", None, False, False, True),
        ("after Caps Lock on", "大写锁", True, False, True),
        ("after left Shift down", ("换档", 160), True, True, True),
        ("after left Shift up", ("换档", 160), True, False, True),
        ("after Num Lock off", "数字锁", True, False, False),
    )
    failures = []
    with Run(desktop, "captions_readback") as run:
        run.enter_keyboard()
        for name, clicked, caps, shift, numlock in steps:
            run.log.mark()
            if isinstance(clicked, str):
                run.click_lock(clicked)
            elif clicked:
                run.click(run.key(*clicked))
            if clicked:
                run.log.wait_events(1)
            wrong = caption_problems(run, expected_captions(caps, shift, numlock))
            failures += ["%s: %s" % (name, w) for w in wrong]
            failures += light_problems(run, "大写灯", HIGHLIGHT if caps else RELEASED_BLUE, name)
            failures += light_problems(run, "数字灯", HIGHLIGHT if numlock else RELEASED_BLUE, name)
            for control, on in (("大写锁", caps), ("数字锁", numlock)):
                colour = HIGHLIGHT if on else RELEASED_BLUE
                seen = run.wait_colour(face_points(run.key(control)), colour)
                if any(s != colour for s in seen):
                    failures.append("%s: the %s button shows %s, expected %s" % (name, control, seen,
                                                                                colour))
    check(not failures, "\n".join(failures))
    print("captions of %d keys and the Caps Lock and Num Lock colours right in %d states"
          % (len(expected_captions(False, False, True)), len(steps)))


def case_close_releases_ctrl(desktop):
    """Closing the keyboard with left Ctrl latched releases it, and sends nothing else."""
    with Run(desktop, "close_releases_ctrl") as run:
        run.enter_keyboard()
        run.click(run.key("控制", 162))
        problems = event_problems(settled_events(run.log, 1), [(162, 0)])
        check(not problems, "left Ctrl latched: " + "; ".join(problems))
        run.log.mark()
        desktop.probe("close", KEYBOARD_CLASS)
        try:
            run.keyboard_proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            raise CaseFailure("the keyboard still runs 5 s after WM_CLOSE")
        problems = event_problems(settled_events(run.log, 1, settle=0.5), [(162, 1)])
        check(not problems, "closing the keyboard: " + "; ".join(problems))
    print("WM_CLOSE with left Ctrl latched: the target saw Ctrl up, then nothing")


def process_ticks(prefix, name):
    """utime + stime, in clock ticks, of the Linux process that runs the Windows program
    NAME in the Wine prefix PREFIX, or None."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if not f.read().split(b"\0")[0].lower().endswith(name.encode()):
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("WINEPREFIX=%s" % prefix).encode() not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return int(fields[11]) + int(fields[12])
        except OSError:
            continue
    return None


def case_space_at_start(desktop):
    """Started with nothing else in front, the keyboard is the foreground window: one click
    on Space sends one Space, which the focused key must not take as a click of its own."""
    out = os.path.join(desktop.out_dir, "space_at_start")
    os.makedirs(out, exist_ok=True)
    log = KeyLog(os.path.join(out, "target.log"))
    if os.path.exists(log.path):
        os.remove(log.path)
    check(desktop.probe_one("count", KEYBOARD_CLASS)["n"] == "0",
          "a keyboard window is left over from an earlier run")
    desktop.xdotool("mousemove", 1200, 300)
    # The target only listens: its window is never shown.
    procs = [desktop.start(desktop.target_exe, [sessionlib.windows_path(log.path), "hidden"],
                           os.path.join(out, "target.out"))]
    try:
        deadline = time.monotonic() + 20
        while not any(line.startswith("ready") for line in log.lines()):
            check(time.monotonic() < deadline, "the target did not start")
            time.sleep(0.1)
        procs.append(desktop.start(desktop.keyboard_exe, [], os.path.join(out, "vimbrel.out")))
        Window(desktop.probe_one("wait", KEYBOARD_CLASS, 20000))
        deadline = time.monotonic() + 10
        while desktop.probe_one("foreground").get("class") != KEYBOARD_CLASS:
            check(time.monotonic() < deadline, "the keyboard did not come to the front at start")
            time.sleep(0.2)
        time.sleep(1.0)  # start-up's paints are over
        space = next(Child(i) for i in desktop.probe("child", control_id("SKB", 32)))
        log.mark()
        desktop.xdotool("mousemove", *space.rect.centre, "click", 1)
        log.wait_events(2)
        desktop.xdotool("mousemove", 1200, 300)
        time.sleep(1.0)
        ticks = process_ticks(desktop.env["WINEPREFIX"], "vimbrel.exe")
        time.sleep(2.0)
        later = process_ticks(desktop.env["WINEPREFIX"], "vimbrel.exe")
        events = log.events()
        got = [event_text(vk, up) for vk, up, *_ in events]
        check(len(events) == 2 and not stroke_problems(events, [32]),
              "one click on Space with the keyboard in front sent %d key events: %s%s"
              % (len(events), " ".join(got[:8]), " ..." if len(got) > 8 else ""))
        check(ticks is not None and later is not None, "no process of vimbrel.exe in our prefix")
        check(later - ticks <= 10, "the keyboard used %d clock ticks of CPU in the 2 s after the click"
              % (later - ticks))
    finally:
        desktop.probe("close", KEYBOARD_CLASS)
        desktop.probe("close", "VimbrelTarget")
        for proc in procs:
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(timeout=5)
    print("keyboard in front, one click on Space: one Space press and release, then idle "
          "(%d ticks in 2 s)" % (later - ticks))


WS_MINIMIZE = 0x20000000
WS_EX_APPWINDOW = 0x00040000


def case_restore_minimised(desktop):
    """A keyboard left minimised comes back when the program is started again: one window,
    restored at the bottom centre, and the target keeps the focus."""
    with Run(desktop, "restore_minimised") as run:
        desktop.probe("minimise")
        deadline = time.monotonic() + 5
        while not run.keyboard_window().style & WS_MINIMIZE:
            check(time.monotonic() < deadline, "the keyboard did not minimise")
            time.sleep(0.1)
        second = desktop.start(desktop.keyboard_exe, [], os.path.join(run.dir, "second.out"))
        run.procs.append(second)
        try:
            code = second.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise CaseFailure("the second copy still runs after 10 s")
        check(code == 0, "the second copy exited with code %d" % code)
        deadline = time.monotonic() + 5
        while run.keyboard_window().style & WS_MINIMIZE and time.monotonic() < deadline:
            time.sleep(0.1)
        window = run._settled_keyboard()
        check(not window.style & WS_MINIMIZE, "the keyboard is still minimised after the second start")
        count = desktop.probe_one("count", KEYBOARD_CLASS)
        check((count["n"], count["visible"]) == ("1", "1"),
              "%s keyboard windows (%s visible) after the second start" % (count["n"], count["visible"]))
        check_bottom_centre(desktop, window, "restored,")
        # Without it a window that is never activated has no taskbar button on Windows.
        check(window.exstyle & WS_EX_APPWINDOW,
              "the keyboard window lacks WS_EX_APPWINDOW (exstyle 0x%08x)" % window.exstyle)
        check(run.foreground_class() == TARGET_CLASS,
              "after the restore the foreground window is %s" % run.foreground_class())
        run.click(run.key("SKB", ord("K")))
        typed = run.log.wait_typed("k")
        check(typed == "k", "K clicked after the restore typed %r into the target" % typed)
    print("minimised, started again: the second copy exited 0, one keyboard restored at %r, "
          "the target kept the focus" % window.rect)


def case_latch_across_windows(desktop):
    """A latched modifier holds while the pointer visits other windows: Shift, the pointer
    over the target and back, then H types "H"; Ctrl, the pointer away and back, then C
    gives Ctrl+C."""
    with Run(desktop, "latch_across_windows") as run:
        target = Window(desktop.probe_one("window", TARGET_CLASS))
        for latch, away, key, want in ((("换档", 160), target.client.centre, "H", "H"),
                                       (("控制", 162), (1200, 300), "C", "\x03")):
            run.log.mark()
            run.enter_keyboard()
            run.click(run.key(*latch))
            run.log.wait_events(1)
            time.sleep(0.5)
            desktop.xdotool("mousemove", *away, "sleep", 0.5)
            run.enter_keyboard()
            time.sleep(0.5)
            run.click(run.key("SKB", ord(key)))
            typed = run.log.wait_typed(want)
            run.click(run.key(*latch))
            settled_events(run.log, 1)
            check(typed == want, "%s latched, the pointer at %s and back, then %s typed %r, expected %r"
                  % (latch[0], away, key, typed, want))
    print("Shift held across the target: H typed 'H'; Ctrl held across the desktop: C typed Ctrl+C")


# --- the pop-up menu ---------------------------------------------------------------

MENU_ITEMS = ("关于软件", "版本信息", "编程语言", "最新版本")
EDITION_TITLE = "版本信息"
EDITION_TEXT = "Vimbrel\n版本：V9.9.9\n2013年11月12日13时14分15秒"
MENU_CLASS = "#32768"
DIALOG_CLASS = "#32770"


def wait_probe(desktop, args, ready, timeout=3.0):
    """Repeats a probe command until ready(items) holds; returns the last items."""
    deadline = time.monotonic() + timeout
    while True:
        items = desktop.probe(*args)
        if ready(items) or time.monotonic() >= deadline:
            return items
        time.sleep(0.1)


def reference_menu(desktop, x, y, default):
    """A menu with the expected items, drawn by the system for the probe at (x, y):
    its window rect, its picture and its items' rects."""
    proc = desktop.probe_process("refmenu", x, y, default, 2000, *(hex_text(t) for t in MENU_ITEMS))
    try:
        lines = []
        while len(lines) < 1 + len(MENU_ITEMS):
            line = proc.stdout.readline()
            if not line:
                break
            lines.append(parse_line(line))
        check(len(lines) == 1 + len(MENU_ITEMS) and "none" not in lines[0],
              "the probe could not open its reference menu: %s" % lines)
        rect = Rect(lines[0]["window"])
        picture = desktop.screenshot()
        proc.wait(timeout=10)
        return rect, picture, [Rect(item["rect"]) for item in lines[1:]]
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def case_menu(desktop):
    """A right press on the background opens the menu at the pointer: its four items in
    order, the first the default; 版本信息 shows the version message."""
    with Run(desktop, "menu") as run:
        x, y = run.background_point()
        desktop.xdotool("mousemove", x, y)
        ref_rect, ref_shot, item_rects = reference_menu(desktop, x, y, 0)
        plain_rect, plain_shot, _ = reference_menu(desktop, x, y, -1)
        expected = ref_shot.region(ref_rect)
        check(expected != plain_shot.region(plain_rect),
              "a menu with a default item looks like one without: the pictures cannot tell it")

        desktop.xdotool("mousedown", 3, "sleep", 0.3, "mouseup", 3)
        items = wait_probe(desktop, ["menu"], lambda items: "none" not in items[0])
        check("none" not in items[0], "no pop-up menu of the keyboard appeared after a right press "
              "on the background at (%d,%d)" % (x, y))
        menu_rect = Rect(items[0]["window"])
        check((menu_rect.left, menu_rect.top) == (x, y),
              "the menu opened at %r, expected its top-left corner at the pointer (%d,%d)"
              % (menu_rect, x, y))
        check(run.foreground_class() == TARGET_CLASS,
              "with the menu open the foreground window is %s" % run.foreground_class())
        shot = desktop.screenshot()
        if shot.region(menu_rect) != expected:
            shot.save(menu_rect, os.path.join(run.dir, "menu.ppm"))
            ref_shot.save(ref_rect, os.path.join(run.dir, "reference_menu.ppm"))
            raise CaseFailure("the menu at %r does not look like a menu of %s with the first item the "
                              "default (reference %r); pictures in %s"
                              % (menu_rect, "/".join(MENU_ITEMS), ref_rect, run.dir))
        # Where the system lets another process read the menu, its items say the same.
        count = int(items[1]["count"])
        if count >= 0:
            texts = tuple(from_hex(i.get("text", "")) for i in items[2:])
            check(texts == MENU_ITEMS, "the menu's items read %s" % (texts,))
            check(items[1]["default"] == "0", "the menu's default item is at %s" % items[1]["default"])
            how = "menu functions and picture"
        else:
            how = "picture only (menu functions cannot read another process's menu here)"

        desktop.xdotool("mousemove", *item_rects[1].centre, "click", 1)
        found = wait_probe(desktop, ["dialog", DIALOG_CLASS], lambda items: "none" not in items[0])
        check("none" not in found[0], "no message box after choosing %s" % MENU_ITEMS[1])
        box = Window(found[0])
        children = [Child(i) for i in found[1:]]
        check(box.title == hex_text(EDITION_TITLE), "the message box's title is %r, expected %r"
              % (from_hex(box.title), EDITION_TITLE))
        texts = [from_hex(c.text) for c in children if c.cls.lower() == "static" and c.text]
        check(texts == [EDITION_TEXT], "the message box's text is %r, expected %r"
              % (texts, EDITION_TEXT))
        check(desktop.probe_one("count", MENU_CLASS)["visible"] == "0", "the menu is still open")
        box_foreground = run.foreground_class()
        ok = [c for c in children if c.cls.lower() == "button"]
        check(len(ok) == 1, "the message box has the buttons %s, expected OK alone"
              % [from_hex(c.text) for c in ok])
        desktop.xdotool("mousemove", *ok[0].rect.centre, "click", 1)
        gone = wait_probe(desktop, ["count", DIALOG_CLASS], lambda items: items[0]["visible"] == "0")
        check(gone[0]["visible"] == "0", "the message box is still open after OK was clicked")
        deadline = time.monotonic() + 3
        while run.foreground_class() != TARGET_CLASS and time.monotonic() < deadline:
            time.sleep(0.1)
        check(run.foreground_class() == TARGET_CLASS,
              "after the message box closed the foreground window is %s" % run.foreground_class())
    print("menu at the pointer %r with %s, first item the default (checked by %s); version message "
          "box right; foreground while it was open: %s, after it closed: the target"
          % (menu_rect, "/".join(MENU_ITEMS), how, box_foreground))


def case_menu_click_outside(desktop):
    """A click on the target while the pop-up menu is open closes the menu without
    choosing anything; the target keeps the focus and the next key types."""
    with Run(desktop, "menu_click_outside") as run:
        target = Window(desktop.probe_one("window", TARGET_CLASS))
        desktop.xdotool("mousemove", *run.background_point(), "mousedown", 3, "sleep", 0.3, "mouseup", 3)
        items = wait_probe(desktop, ["menu"], lambda items: "none" not in items[0])
        check("none" not in items[0], "no pop-up menu after a right press on the background")
        desktop.xdotool("mousemove", *target.client.centre, "click", 1)
        gone = wait_probe(desktop, ["count", MENU_CLASS], lambda items: items[0]["visible"] == "0")
        check(gone[0]["visible"] == "0", "the menu is still open after a click on the target")
        time.sleep(0.5)
        boxes = desktop.probe_one("count", DIALOG_CLASS)
        check(boxes["visible"] == "0", "a click outside the menu opened %s message box(es)" % boxes["visible"])
        check(run.foreground_class() == TARGET_CLASS,
              "after the menu closed the foreground window is %s" % run.foreground_class())
        run.log.mark()
        run.click(run.key("SKB", ord("K")))
        typed = run.log.wait_typed("k")
        check(typed == "k", "K clicked after the menu closed typed %r into the target" % typed)
    print("menu closed by a click on the target, nothing chosen; the target kept the focus and typed 'k'")


# --- finger pointers and tooltips --------------------------------------------------

ASSETS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "assets")
FINGER_ICONS = ("left_little", "left_ring", "left_middle", "left_index", "left_thumb", "both_thumbs",
                "right_thumb", "right_index", "right_middle", "right_ring", "right_little")
BLACK, RED = (0, 0, 0), (255, 0, 0)


def read_icon(path):
    """A 32 x 32, 8 bits per pixel icon file of one image: {(x, y): (r, g, b) or None where
    its mask leaves the pixel transparent}, rows counted from the top."""
    with open(path, "rb") as f:
        data = f.read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    width, height, _, _, _, bits, _, offset = struct.unpack_from("<BBBBHHII", data, 6)
    header_size, bmp_width, bmp_height, _, bmp_bits = struct.unpack_from("<IiiHH", data, offset)
    check((kind, count, width, height, bits, bmp_width, bmp_height, bmp_bits) == (1, 1, 32, 32, 8, 32, 64, 8),
          "%s is not a single 32 x 32 icon of 8 bits per pixel" % path)
    palette_at = offset + header_size
    colours_at = palette_at + 256 * 4
    mask_at = colours_at + 32 * 32
    pixels = {}
    for row in range(32):  # bottom-up
        for x in range(32):
            blue, green, red = data[palette_at + 4 * data[colours_at + row * 32 + x]:][:3]
            transparent = data[mask_at + row * 4 + x // 8] >> (7 - x % 8) & 1
            pixels[(x, 31 - row)] = None if transparent else (red, green, blue)
    return pixels


def argb(colour):
    return 0xFF000000 | colour[0] << 16 | colour[1] << 8 | colour[2]


def icon_pointer_problem(icon, image):
    """None when X shows the icon as the pointer in its own colours, else what differs.
    (Wine hands X a colour pointer through the 32-bit libXcursor that setup installs;
    without it X would get a two-colour pointer and the red finger tip would be lost.)"""
    if (image.width, image.height) != (32, 32):
        return "the pointer is %r, the icon 32 x 32" % image
    shown = {(i % 32, i // 32): p for i, p in enumerate(image.pixels)}
    exact = {xy: 0 if c is None else argb(c) for xy, c in icon.items()}
    wrong = [xy for xy in sorted(icon, key=lambda p: (p[1], p[0])) if shown[xy] != exact[xy]]
    if not wrong:
        return None
    x, y = wrong[0]
    return ("%d pixels differ from the icon; first at (%d,%d): shown 0x%08X, icon %s"
            % (len(wrong), x, y, shown[(x, y)], icon[(x, y)]))


def wait_pointer(desktop, good, timeout=2.0):
    """Polls the pointer image until good(image) holds; returns the last image."""
    deadline = time.monotonic() + timeout
    while True:
        image = read_pointer(desktop.env["DISPLAY"])
        if good(image) or time.monotonic() >= deadline:
            return image
        time.sleep(0.1)


def case_pointers(desktop):
    """F4 shows the left index finger, F5 the right index finger, each with its hot spot
    on the red tip; the background shows the system's move pointer."""
    icons = {name: read_icon(os.path.join(ASSETS, "finger_%s.ico" % name)) for name in FINGER_ICONS}
    failures = []
    with Run(desktop, "pointers") as run:
        seen = {}
        for vk, name in ((115, "left_index"), (116, "right_index")):
            desktop.xdotool("mousemove", *run.key("SKB", vk).rect.centre)
            image = wait_pointer(desktop, lambda i: icon_pointer_problem(icons[name], i) is None)
            seen[vk] = image
            problem = icon_pointer_problem(icons[name], image)
            if problem:
                failures.append("over F%d the pointer is not finger_%s.ico: %s" % (vk - 111, name, problem))
            elif icons[name][(image.xhot, image.yhot)] != RED:
                failures.append("over F%d the hot spot (%d,%d) is not on the red finger tip"
                                % (vk - 111, image.xhot, image.yhot))
        if seen[115] == seen[116]:
            failures.append("F4 and F5 show the same pointer")

        run.enter_keyboard()
        background = wait_pointer(desktop, lambda i: all(icon_pointer_problem(icon, i)
                                                         for icon in icons.values()))
        # References: the system's move pointer in a window of the probe, and the arrow over the target.
        sample = desktop.probe_process("pointerwindow", "sizeall", 600, 300, 120, 120, 3000)
        try:
            check(sample.stdout.readline().startswith("pointerwindow"),
                  "the probe could not show its pointer window")
            desktop.xdotool("mousemove", 660, 360)
            move = wait_pointer(desktop, lambda i: i == background)
        finally:
            sample.kill()
            sample.wait()
        desktop.xdotool("mousemove", 200, 160)
        arrow = wait_pointer(desktop, lambda i: i != move)
        if move == arrow:
            failures.append("the system's move pointer and arrow look alike: the check is blind")
        if background != move:
            failures.append("over the background the pointer is %r, not the system's move pointer %r"
                            % (background, move))
        hands = [name for name, icon in icons.items() if icon_pointer_problem(icon, background) is None]
        if hands:
            failures.append("over the background the pointer is the hand finger_%s.ico" % hands[0])
    check(not failures, "\n".join(failures))
    print("F4: finger_left_index.ico, hot spot (%d,%d); F5: finger_right_index.ico, hot spot (%d,%d); "
          "background: the system's move pointer (%r)"
          % (seen[115].xhot, seen[115].yhot, seen[116].xhot, seen[116].yhot, background))


def tooltip_problem(run, key, text):
    """Hovers the key and waits for its tooltip; None when it shows `text` near the pointer."""
    x, y = key.rect.centre
    run.desktop.xdotool("mousemove", x, y, "sleep", 0.1, "mousemove", x + 1, y + 1)
    deadline = time.monotonic() + 3
    while True:
        items = run.desktop.probe("tooltip")
        window = items[0]
        tool = next((i for i in items if i["name"] == "tool"), {})
        shown = window.get("visible") == "1" and tool.get("id") == "0x%04x" % key.id
        if shown or time.monotonic() >= deadline:
            break
        time.sleep(0.1)
    if "none" in window:
        return "the keyboard has no tooltip window"
    if not shown:
        return ("no tooltip for key 0x%04x after 3 s: tooltip visible=%s, current tool %s"
                % (key.id, window.get("visible"), tool.get("id")))
    texts = [from_hex(tool.get("text", ""))] + [from_hex(i.get("text", "")) for i in items
                                                if i["name"] == "tooltext"]
    if texts != [text, text]:
        return "the tooltip of key 0x%04x reads %r, expected %r" % (key.id, texts, text)
    rect = Rect(window["window"])
    distance = max(rect.left - x, 0, x - rect.right, rect.top - y, 0, y - rect.bottom)
    if distance > 48 or rect.width <= 0 or rect.height <= 0:
        return "the tooltip shows at %r, %d pixels from the pointer at (%d,%d)" % (rect, distance, x, y)
    return None


def case_tooltip(desktop):
    """Resting on a key shows its full name as a tooltip beside the pointer."""
    failures = []
    with Run(desktop, "tooltip") as run:
        for key, text in ((run.key("SKB", ord("A")), "a 或 A"), (run.key("小回车"), "Enter")):
            problem = tooltip_problem(run, key, text)
            if problem:
                failures.append(problem)
        if run.foreground_class() != TARGET_CLASS:
            failures.append("with a tooltip shown the foreground window is %s" % run.foreground_class())
    check(not failures, "\n".join(failures))
    print("tooltips 'a 或 A' and 'Enter' shown beside the pointer")


def case_accessibility(desktop):
    """Screen readers hear every key's full name as a push button, and each light's state."""
    import accessibility_case

    class Reader:
        acc_probe = Desktop._helper(os.path.dirname(desktop.keyboard_exe), "acc_probe.exe")

        @staticmethod
        def run_win32(exe, args):
            result = subprocess.run(["wine", exe] + [str(a) for a in args], env=desktop.env,
                                    stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
            return result.stdout

    with Run(desktop, "accessibility"):
        try:
            accessibility_case.run(Reader, fresh=True)
        except AssertionError as error:
            raise CaseFailure(str(error))


CASES = {
    "ordinary_keys": case_ordinary_keys,
    "double_click": case_double_click,
    "focus_stays": case_focus_stays,
    "highlight": case_highlight,
    "placement": case_placement,
    "single_instance": case_single_instance,
    "screenshot": case_screenshot,
    "ctrl_c": case_ctrl_c,
    "caps_a": case_caps_a,
    "shift_1": case_shift_1,
    "numlock_keypad": case_numlock_keypad,
    "keypad_enter_menu_key": case_keypad_enter_menu_key,
    "captions_readback": case_captions_readback,
    "close_releases_ctrl": case_close_releases_ctrl,
    "menu": case_menu,
    "menu_click_outside": case_menu_click_outside,
    "space_at_start": case_space_at_start,
    "restore_minimised": case_restore_minimised,
    "latch_across_windows": case_latch_across_windows,
    "pointers": case_pointers,
    "tooltip": case_tooltip,
    "accessibility": case_accessibility,
    **native_cases.cases(CaseFailure),
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
