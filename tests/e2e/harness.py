"""What the end-to-end cases and the benchmark share: the keys as the layout
table defines them, the session's desktop and its tools (xdotool, screenshots,
the pointer X shows, the probe and the target under Wine), a keyboard and
target started fresh for a case, and the reading of what the target received.
"""

import ctypes
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session as sessionlib  # noqa: E402

SOURCE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

# The product's version as CMakeLists.txt gives it; CTest passes it to every case.
VERSION = os.environ.get("VIMBREL_VERSION", "")
VERSION_TEXT = os.environ.get("VIMBREL_VERSION_TEXT", "")

KEYBOARD_CLASS = "ScreenKeyboard"
KEYBOARD_TITLE = "Vimbrel" + VERSION_TEXT
EDITION_TEXT = "Vimbrel\n版本：%s\n2013年11月12日13时14分15秒" % VERSION_TEXT
TARGET_CLASS = "VimbrelTarget"

WS_EX_TOPMOST = 0x00000008
WS_EX_NOACTIVATE = 0x08000000
LLKHF_EXTENDED = 0x01
LLKHF_UP = 0x80

LIGHT_IDS = {"数字灯": 0x2000, "大写灯": 0x2001, "卷轴灯": 0x2002}

WHITE = (255, 255, 255)
HIGHLIGHT = (224, 255, 0)
RELEASED_BLUE = (111, 161, 217)

KEY_WAIT = 3.0          # seconds for a click's key events to reach the hook
PAINT_WAIT = 2.0        # seconds for a colour change to reach the screen


class CaseFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailure(message)


# --- the keys, as the layout table defines them -------------------------------------

def _source(*path):
    with open(os.path.join(SOURCE_DIR, *path), encoding="utf-8") as f:
        return f.read()


def _read_controls():
    """The Control enumerators of layout/key_ref.h, in order, as {name: number}."""
    body = re.search(r"enum class Control\b[^{]*\{(.*?)\};", _source("layout", "key_ref.h"), re.S)
    check(body is not None, "no enum class Control in layout/key_ref.h")
    names = [re.sub(r"//.*", "", line).strip().rstrip(",") for line in body.group(1).splitlines()]
    return {name: number for number, name in enumerate(n for n in names if n)}


# Control numbers as the keyboard encodes them in its control ids:
# 0x1000 | control << 8 | index (the virtual-key code in arrays, 0 for single buttons).
CONTROLS = _read_controls()


def control_id(control, index=0):
    return 0x1000 | (CONTROLS[control] << 8) | index


_ESCAPE = re.compile(r'\\(u[0-9A-Fa-f]{4}|U[0-9A-Fa-f]{8}|["\\\'nrt0])')
_SIMPLE = {'"': '"', "\\": "\\", "'": "'", "n": "\n", "r": "\r", "t": "\t", "0": "\0"}


def _unescape(literal):
    """The text of the body of a C++ u"..." literal."""
    def one(match):
        code = match.group(1)
        return chr(int(code[1:], 16)) if code[0] in "uU" else _SIMPLE[code]
    return _ESCAPE.sub(one, literal)


class KeyDef:
    """One row of layout/key_table.h: the control and index, its id, the rect in
    twips and the tooltip."""

    def __init__(self, control, index, tooltip, left, top, width, height):
        self.control, self.index, self.tooltip = control, index, tooltip
        self.left, self.top, self.right, self.bottom = left, top, left + width, top + height
        self.id = control_id(control, index)

    def __repr__(self):
        return "%s(%d)" % (self.control, self.index)


def read_key_table():
    """The 104 keys of layout/key_table.h."""
    string = r'u"((?:[^"\\]|\\.)*)"'
    row = re.compile(r"\{\{Control::(\w+)(?:,\s*(\d+))?\},\s*%s,\s*%s,\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+),"
                     % (string, string))
    keys = []
    for m in row.finditer(_source("layout", "key_table.h")):
        check(m.group(1) in CONTROLS, "unknown control %s in layout/key_table.h" % m.group(1))
        keys.append(KeyDef(m.group(1), int(m.group(2) or 0), _unescape(m.group(4)),
                           *(int(m.group(i)) for i in range(5, 9))))
    check(len(keys) == 104, "read %d keys from layout/key_table.h, expected 104" % len(keys))
    return keys


def client_twips():
    text = _source("layout", "key_table.h")
    width = re.search(r"kClientWidth\s*=\s*(\d+)", text)
    height = re.search(r"kClientHeight\s*=\s*(\d+)", text)
    check(width and height, "no client size in layout/key_table.h")
    return int(width.group(1)), int(height.group(1))


def hex_text(text):
    """Text as the probe prints it: UTF-16 code units in hex."""
    data = text.encode("utf-16-le")
    return "".join("%02X%02X" % (data[i + 1], data[i]) for i in range(0, len(data), 2))


def from_hex(units):
    data = b"".join(int(units[i:i + 4], 16).to_bytes(2, "little") for i in range(0, len(units), 4))
    return data.decode("utf-16-le", errors="replace")


def key_name(vk):
    if 48 <= vk <= 57 or 65 <= vk <= 90:
        return "%d '%s'" % (vk, chr(vk))
    return str(vk)


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


def log_lines(path):
    """The lines a recording target has written so far; none before it made its log."""
    try:
        with open(path, encoding="ascii", errors="replace") as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []


class KeyLog:
    """Follows the target's log file."""

    def __init__(self, path):
        self.path = path
        self.seen = 0

    def lines(self):
        return log_lines(self.path)

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



class CaseRun:
    """What every case of the native keyboard starts from: a fresh folder of its own
    under the output folder, the native build's keyboard and the helper programs
    named (paths inside the build), and the processes it starts, by PID."""

    def __init__(self, out_dir, case, *helpers):
        self.dir = os.path.join(out_dir, case)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        build = os.environ.get("VIMBREL_NATIVE_BUILD", os.path.normpath(os.path.join(out_dir, "..", "..")))
        self.keyboard_exe = os.path.join(build, "vimbrel")
        self.helpers = [os.path.join(build, *helper.split("/")) for helper in helpers]
        for path in [self.keyboard_exe] + self.helpers:
            check(os.path.exists(path), "%s does not exist: build the native preset" % path)
        self.procs = []
        self.keyboard = None

    def end_processes(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
            proc.wait()

    def spawn(self, argv, name, env=None, cwd=None):
        """Starts a program of the case, its output in NAME.out in the case's folder."""
        with open(os.path.join(self.dir, name + ".out"), "ab") as log:
            proc = subprocess.Popen(argv, env=env or self.env, stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=subprocess.STDOUT, cwd=cwd)
        self.procs.append(proc)
        return proc


class Desktop:
    """The shared session and the tools that drive it: xdotool, screenshots and,
    under Wine, the keyboard, the target and the probe (found on first use, so that
    cases without Wine need none of them)."""

    def __init__(self, state_path, out_dir, predict=None):
        # Without a state file (the native cases, which start X servers of their own) there is no shared session.
        self.session = sessionlib.Session.load(state_path) if state_path else None
        self.env = self.session.env() if self.session else None
        self.out_dir = out_dir
        # The Windows build the session runs (build/win32 or build/win64).
        self.build_dir = self.session.build_dir if self.session else None
        self.predict_exe = predict

    def _built(self, *path):
        check(self.build_dir is not None, "the session names no Windows build")
        path = os.path.join(self.build_dir, *path)
        preset = os.path.basename(self.build_dir)
        check(os.path.exists(path), "%s does not exist: build the %s preset first "
              "(cmake --preset %s && cmake --build --preset %s)" % (path, preset, preset, preset))
        return path

    @property
    def keyboard_exe(self):
        return self._built("vimbrel.exe")

    @property
    def target_exe(self):
        return self._built("tests", "e2e", "win32", "target.exe")

    @property
    def probe_exe(self):
        return self._built("tests", "e2e", "win32", "probe.exe")

    def start(self, exe, args, log_path):
        with open(log_path, "ab") as log:
            return subprocess.Popen(["wine", exe] + list(args), env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def probe(self, *args, strict=False):
        """The probe's lines for the commands, parsed. A usage error fails the case;
        so does a window not found or a call that failed, when strict."""
        result = subprocess.run(["wine", self.probe_exe] + [str(a) for a in args], env=self.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=120)
        if result.returncode == 2 or (strict and result.returncode != 0):
            raise CaseFailure("probe %s: exit %d\n%s%s" % (" ".join(map(str, args)), result.returncode,
                                                            result.stdout, result.stderr.strip()))
        return [parse_line(line) for line in result.stdout.splitlines() if line.strip()]

    def probe_one(self, *args, strict=False):
        items = self.probe(*args, strict=strict)
        check(len(items) == 1, "probe %s printed %r" % (args, items))
        return items[0]

    def probe_ok(self, *args):
        """The one line of probe commands that must find what they ask for and succeed."""
        return self.probe_one(*args, strict=True)

    def probe_process(self, *args):
        """Starts the probe for a command that keeps running (a window of its own) and
        prints while it runs; the caller reads its output and waits for it."""
        return subprocess.Popen(["wine", self.probe_exe] + [str(a) for a in args], env=self.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)

    def children(self, cls=KEYBOARD_CLASS):
        """The children of the first window of the class, by control id."""
        return {c.id: c for c in (Child(i) for i in self.probe("children", cls) if i["name"] == "child")}

    def keyboard_count(self):
        return self.probe_one("count", KEYBOARD_CLASS)

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=30)

    def screenshot(self):
        return Screenshot(self.env)

    def save_screenshot(self, path, rect=None, enlarge=1):
        """The whole screen, or the rectangle, as an image file; `enlarge` times
        larger, each pixel a square."""
        crop = [] if rect is None else ["-crop", "%dx%d+%d+%d" % (rect.width, rect.height, rect.left, rect.top),
                                        "+repage"]
        scale = [] if enlarge == 1 else ["-filter", "point", "-resize", "%d%%" % (100 * enlarge)]
        subprocess.run(["import", "-window", "root"] + crop + scale + [path], env=self.env, check=True,
                       timeout=30)
        return path

    def predict(self, clicks):
        """The key events the core sends for the clicks (soak_predict), as (vk, up) pairs."""
        check(self.predict_exe and os.path.exists(self.predict_exe),
              "no soak_predict at %s: build the native preset" % self.predict_exe)
        result = subprocess.run([self.predict_exe], input="".join(c + "\n" for c in clicks),
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 0, "soak_predict failed: %s" % result.stderr.strip())
        events = []
        for line in result.stdout.splitlines():
            kind, vk = line.split()
            events.append((int(vk), 1 if kind == "up" else 0))
        return events


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




def settled_keyboard(desktop):
    """The keyboard window once it stops moving: it is first shown where its layout
    puts it and moves to the bottom centre with its first paint (start-up, or a new
    layout after a change of DPI)."""
    deadline = time.monotonic() + 5
    last = None
    while True:
        window = Window(desktop.probe_one("keyboard"))
        state = (window.rect, window.client.width, window.client.height, window.exstyle)
        if state == last or time.monotonic() > deadline:
            return window
        last = state
        time.sleep(0.3)


class Run:
    """One case's keyboard and, unless target=False, the target it types into:
    started fresh, ended at the end whatever happened. target="hidden": the
    target starts first and never shows its window, so the keyboard, started
    after it, is the foreground window, and the target's hook still logs."""

    def __init__(self, desktop, case, target=True):
        self.desktop = desktop
        self.dir = os.path.join(desktop.out_dir, case)
        os.makedirs(self.dir, exist_ok=True)
        self.log = KeyLog(os.path.join(self.dir, "target.log"))
        self.with_target = target
        self.procs = []
        self.keyboard_proc = self.target_proc = None
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
        check(d.keyboard_count()["n"] == "0", "a keyboard window is left over from an earlier run")
        # The pointer starts off both windows.
        d.xdotool("mousemove", 1200, 300)
        if os.path.exists(self.log.path):
            os.remove(self.log.path)
        if self.with_target == "hidden":
            self._start_target(["hidden"])
        # The keyboard before a target that shows: the target takes the foreground.
        self.keyboard_proc = d.start(d.keyboard_exe, [], os.path.join(self.dir, "vimbrel.out"))
        self.procs.append(self.keyboard_proc)
        Window(d.probe_one("wait", KEYBOARD_CLASS, 20000))
        self.keyboard = settled_keyboard(d)
        if self.with_target is True:
            self._start_target()
            while self.foreground_class() != TARGET_CLASS:
                check(time.monotonic() < self.target_started + 20, "the target did not take the foreground")
                time.sleep(0.1)
        self.children = d.children()
        self.log.mark()
        return self

    def _start_target(self, args=()):
        d = self.desktop
        self.target_started = time.monotonic()
        self.target_proc = d.start(d.target_exe, [sessionlib.windows_path(self.log.path)] + list(args),
                                   os.path.join(self.dir, "target.out"))
        self.procs.append(self.target_proc)
        while not any(line.startswith("ready") for line in self.log.lines()):
            check(time.monotonic() < self.target_started + 20, "the target did not start")
            check(self.target_proc.poll() is None, "the target exited at start")
            time.sleep(0.1)
        check("hook=1" in next(l for l in self.log.lines() if l.startswith("ready")),
              "the target could not install its keyboard hook")

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

    def free_points(self, margin, step=1):
        """Points of the keyboard's client area that no child covers, with `margin`
        pixels of room around them, row by row from the top-left corner."""
        client = self.keyboard.client
        children = list(self.children.values())
        for y in range(client.top + margin, client.bottom - margin, step):
            for x in range(client.left + margin, client.right - margin, step):
                if not any(c.rect.contains(x, y, margin=margin) for c in children):
                    yield x, y

    def background_point(self):
        """The free point nearest the top-left corner (the gap above the keys)."""
        point = next(self.free_points(3), None)
        check(point is not None, "no background point free of keys in the client area %r" % self.keyboard.client)
        return point

    # --- driving ---------------------------------------------------------------

    def second_copy(self, timeout):
        """Starts the keyboard again; its exit code once it ends, as it must within `timeout` s."""
        second = self.desktop.start(self.desktop.keyboard_exe, [], os.path.join(self.dir, "second.out"))
        self.procs.append(second)
        try:
            return second.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise CaseFailure("the second copy still runs after %d s" % timeout)

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


# --- what the target received ---------------------------------------------------

def stroke(vk):
    return [(vk, 0), (vk, 1)]


def events_text(events):
    """Key events as "162v 67v 67^ 162^" (v down, ^ up)."""
    return " ".join("%d%s" % (vk, "^" if up else "v") for vk, up, *_ in events)


def flag_problems(events):
    """Every event the keyboard sends has scan code 0, no extended flag, the up flag
    as it goes, and extra information 0."""
    problems = []
    for n, (vk, up, scan, flags, extra) in enumerate(events):
        if scan != 0 or flags & LLKHF_EXTENDED or extra != 0 or bool(flags & LLKHF_UP) != bool(up):
            problems.append("event %d vk %d %s: scan %d flags 0x%x extra %d"
                            % (n, vk, "up" if up else "down", scan, flags, extra))
    return problems


def event_problems(events, want):
    """Compares the hook's events with the expected (vk, up) pairs, in order, each
    clean as flag_problems wants them."""
    got = [(vk, up) for vk, up, *_ in events]
    problems = [] if got == list(want) else ["events %s, expected %s" % (events_text(got), events_text(want))]
    return problems + flag_problems(events)


def stroke_problems(events, expected_vks):
    """Compares the hook's events with strokes of the expected codes: press then
    release of each, clean as flag_problems wants them."""
    return event_problems(events, [pair for vk in expected_vks for pair in stroke(vk)])


def settled_events(log, count, settle=0.3):
    """The events since the mark once `count` have come and nothing more came for `settle` s."""
    log.wait_events(count)
    time.sleep(settle)
    return log.events()


def keys_left_down(events):
    down = set()
    for vk, up, *_ in events:
        (down.discard if up else down.add)(vk)
    return sorted(down)


def wait_probe(desktop, args, ready, timeout=3.0):
    """Repeats a probe command until ready(items) holds; returns the last items."""
    deadline = time.monotonic() + timeout
    while True:
        items = desktop.probe(*args)
        if ready(items) or time.monotonic() >= deadline:
            return items
        time.sleep(0.1)


# --- processes of the session ------------------------------------------------------

def unix_process(prefix, exe):
    """The Unix PID of the Wine process running exe in the Wine prefix: other
    sessions on the machine may run the same exe in prefixes of their own."""
    name = os.path.basename(exe).lower()
    want = ("WINEPREFIX=" + prefix).encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                first = f.read().split(b"\0")[0].decode(errors="replace")
            if first.replace("\\", "/").rsplit("/", 1)[-1].lower() != name:
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                if want not in f.read().split(b"\0"):
                    continue
        except OSError:
            continue
        return int(entry)
    return None


def cpu_ticks(pid):
    """utime + stime of every thread of the process, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # fields 14 and 15 of stat(5)


def rss_kib(pid):
    """Resident memory of a process in KiB, None when it cannot be read."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


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
