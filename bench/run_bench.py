#!/usr/bin/python3
"""Holds the keyboard to figures: each build against its floor program (the
least a program with the same window must cost), measured side by side round
after round and printed as one table per build. vimbrel.exe and floor.exe run
under Wine in one session; the native build/native/vimbrel and bench/gtk/floor
run in another, without Wine.

    run_bench.py [--rounds N] [--idle-seconds S] [--only windows|native|wayland]
                 [--native-dir DIR] [--samples]

Builds nothing: scripts/bench.sh builds every preset first. The Windows build
measured is the one this machine's Wine runs (build/win32, or build/win64 where
no 32-bit code runs; VIMBREL_WINE_ARCH chooses: tests/e2e/session.py), against
the floor built in the same tree, so for the same architecture. Needs there:
vimbrel.exe, bench/win32/{floor,vimbrel_instrumented}.exe and the end-to-end
tests' tests/e2e/win32/{probe,target}.exe and inject.dll; under the native DIR
(default build/native, the optimised build): vimbrel and bench/gtk/{floor,x_bench}.
The Wayland side runs the same vimbrel and bench/gtk/wl_floor on a headless
sway (the end-to-end tests' session), typing into cat in foot, clicked by
tests/e2e/wayland/w_pointer.

Exit status 0 when the measurements ran, whatever their PASS/FAIL; 2 when they
could not (a program missing, the session or a program failing to start).
"""

import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import session as sessionlib  # noqa: E402
import wayland_cases  # noqa: E402
from harness import (KEYBOARD_CLASS, TARGET_CLASS, client_twips, cpu_ticks, parse_line,  # noqa: E402,F401
                     read_key_table, rss_kib, unix_process)

FLOOR_CLASS = "VimbrelFloor"

# Control ids: 0x1000 | control << 8 | index (the virtual-key code of array keys).
LEFT_SHIFT_ID = 0x1000 | 7 << 8 | 160
LATENCY_KEYS = (81, 87, 69, 82, 84, 89, 85, 73, 65, 83, 68, 70, 71, 72, 74, 75)  # letters: no state
KEY_COUNT = 104
# A Shift click re-captions 26 letter keys, 21 digit-row and punctuation keys and 11 keypad keys.
SHIFT_CAPTIONS = 26 + 21 + 11
BN_CLICKED, BN_DBLCLK = 0, 5

STARTS_PER_ROUND = 3    # start-up is the noisiest figure: three starts each per round
CLICK_SETTLE_MS = 50    # the pointer rests on the key this long before the press
EVENT_TIMEOUT = 2.0     # seconds for a click's key event to reach the target's hook
RSS_SETTLE = 1.0        # seconds between the first complete paint and reading VmRSS
PAINT_SETTLE = 0.6      # seconds for the paints a click causes to be written down
EXE_LIMIT = 128 * 1024
QUIET_MS = 1000         # no damage to a started window for this long: its picture is complete
AWAY = (1270, 10)       # the pointer's rest on the native display, off every window
TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")

# What a static build may import: DLLs every Windows has.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "ole32.dll",
               "oleaut32.dll", "oleacc.dll", "advapi32.dll", "msvcrt.dll", "uxtheme.dll", "shlwapi.dll",
               "comdlg32.dll", "imm32.dll", "version.dll", "winmm.dll", "ws2_32.dll", "ntdll.dll",
               "dwmapi.dll", "msimg32.dll", "usp10.dll"}


class BenchError(Exception):
    pass


def rect_of(text):
    return tuple(int(v) for v in text.split(","))


class Driver:
    """A helper reading commands from its standard input (probe.exe under Wine,
    x_bench on X), running for the whole benchmark, one request at a time."""

    def __init__(self, argv, env, log_path):
        self.name = os.path.basename(argv[1] if argv[0] == "wine" else argv[0])
        self.log = open(log_path, "ab")
        self.proc = subprocess.Popen(argv, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.log, text=True, bufsize=1)

    def lines(self, command):
        """The answer's lines, up to the probe's "done exit=N"."""
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        answer = []
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise BenchError("%s ended during: %s" % (self.name, command))
            item = parse_line(line)
            if item["name"] == "done":
                break
            answer.append(item)
        errors = [" ".join("%s=%s" % kv for kv in i.items()) for i in answer if i["name"] == "error"]
        if item["exit"] != "0" or errors or not answer:
            raise BenchError("%s: %s -> exit %s %s" % (self.name, command, item["exit"], "; ".join(errors)))
        return answer

    def one(self, command):
        return self.lines(command)[-1]

    def close(self):
        try:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.close()
            self.proc.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait(timeout=10)
        self.log.close()


class TargetLog:
    """The key events target.exe's hook wrote, with their counter readings."""

    def __init__(self, path):
        self.path = path

    def lines(self):
        try:
            with open(self.path, encoding="ascii", errors="replace") as f:
                return [parse_line(line) for line in f.read().splitlines() if line.strip()]
        except FileNotFoundError:
            return []

    def count(self):
        return len(self.lines())

    def wait_key_down(self, vk, after, timeout=EVENT_TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for item in self.lines()[after:]:
                if item["name"] == "key" and int(item["vk"]) == vk and item["up"] == "0":
                    return int(item["qpc"])
            time.sleep(0.01)
        return None


class Samples:
    """Figures per program, and the reasons a figure could not be taken."""

    def __init__(self):
        self.values = {}
        self.missing = {}

    def add(self, figure, program, value):
        self.values.setdefault(figure, {}).setdefault(program, []).append(value)

    def get(self, figure, program):
        return self.values.get(figure, {}).get(program, [])

    def not_available(self, figure, reason):
        self.missing.setdefault(figure, reason)


def pe_imports(path):
    """The DLL names of a PE file's import table."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise BenchError("%s is not a PE file" % path)
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    table = []
    for i in range(sections):
        s = optional + optional_size + 40 * i
        vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, s + 8)
        table.append((vaddr, max(vsize, rsize), raw))

    def offset(rva):
        for vaddr, size, raw in table:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raw
        raise BenchError("RVA 0x%x outside every section of %s" % (rva, path))

    names = []
    if import_rva:
        at = offset(import_rva)
        while True:
            name_rva = struct.unpack_from("<I", data, at + 12)[0]
            if name_rva == 0:
                break
            start = offset(name_rva)
            names.append(data[start:data.index(b"\0", start)].decode("ascii"))
            at += 20
    return names


def shift_figures(before, after, events, begin, end, freq):
    """What one click on the left Shift key did: captions are {control id: text}
    read before and after it, events the instrumented build's lines (parsed),
    begin and end the counter readings that bound the click (end None: up to the
    last event). The handler time is None when no click of the key was timed."""
    def inside(t):
        return t >= begin and (end is None or t < end)

    keys = {i for i in before if 0x1000 <= i < 0x2000}
    changed = {i for i in keys if before[i] != after.get(i)}
    paints = {}
    for e in events:
        if e["name"] == "paint" and inside(int(e["qpc"])):
            paints[int(e["id"], 16)] = paints.get(int(e["id"], 16), 0) + 1
    handler = [int(e["end"]) - int(e["begin"]) for e in events
               if e["name"] == "command" and int(e["id"], 16) == LEFT_SHIFT_ID
               and int(e["code"]) in (BN_CLICKED, BN_DBLCLK) and inside(int(e["begin"]))]
    # The clicked button repaints itself for the press and the release, as any button does.
    others = [count for i, count in paints.items() if i != LEFT_SHIFT_ID]
    return {"shift_changed": len(changed),
            "shift_most": max(others, default=0),
            "shift_own": paints.get(LEFT_SHIFT_ID, 0),
            "shift_painted": len(paints),
            "shift_idle_paints": len([i for i in paints if i not in changed and i != LEFT_SHIFT_ID]),
            "shift_handler": handler[0] * 1000.0 / freq if handler else None}


class Bench:
    def __init__(self, args, state_path, workdir):
        self.args = args
        self.session = sessionlib.Session.load(state_path)
        self.env = self.session.env()
        self.prefix = self.session.state["prefix"]
        self.workdir = workdir
        build = self.session.build_dir
        bench_dir = os.path.join(build, "bench", "win32")
        helper_dir = os.path.join(build, "tests", "e2e", "win32")
        self.exes = {"keyboard": os.path.join(build, "vimbrel.exe"),
                     "floor": os.path.join(bench_dir, "floor.exe"),
                     "instrumented": os.path.join(bench_dir, "vimbrel_instrumented.exe")}
        self.classes = {"keyboard": KEYBOARD_CLASS, "floor": FLOOR_CLASS,
                        "instrumented": KEYBOARD_CLASS}
        self.instrument_log = os.path.join(bench_dir, "vimbrel_instrument.log")
        self.samples = Samples()
        self.driver = Driver(["wine", os.path.join(helper_dir, "probe.exe"), "stdin"], self.env,
                             os.path.join(workdir, "driver.log"))
        self.target_log = TargetLog(os.path.join(workdir, "target.log"))
        with open(os.path.join(workdir, "target.out"), "ab") as out:
            self.target = subprocess.Popen(
                ["wine", os.path.join(helper_dir, "target.exe"),
                 sessionlib.windows_path(self.target_log.path)],
                env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        deadline = time.monotonic() + 30
        while not any(i["name"] == "ready" for i in self.target_log.lines()):
            if time.monotonic() > deadline or self.target.poll() is not None:
                raise BenchError("target.exe did not start")
            time.sleep(0.1)
        ready = next(i for i in self.target_log.lines() if i["name"] == "ready")
        if ready["hook"] != "1":
            raise BenchError("target.exe could not install its keyboard hook")
        self.freq = int(ready["freq"])
        # The probe answers: it runs in the session. The first window calls of a
        # process are slow (the window system is set up on first use); they must
        # not land inside a timed start.
        self.driver.one("count Shell_TrayWnd qpc")

    def close(self):
        for cls in (KEYBOARD_CLASS, FLOOR_CLASS, TARGET_CLASS):
            try:
                self.driver.one("end " + cls)
            except BenchError:
                pass
        self.driver.close()
        try:
            self.target.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.target.kill()
            self.target.wait(timeout=10)

    # --- one program -----------------------------------------------------------

    def start(self, program):
        started = self.driver.one('start %s "%s"' % (self.classes[program],
                                                      sessionlib.windows_path(self.exes[program])))
        if started["name"] != "started":
            raise BenchError("%s did not start: %r" % (program, started))
        return started

    def children(self, program):
        answer = self.driver.lines("children " + self.classes[program])
        keys = {}
        for item in answer[:-1]:
            left, top, right, bottom = rect_of(item["window"])
            keys[int(item["id"], 16)] = {"centre": ((left + right) // 2, (top + bottom) // 2),
                                         "text": item["text"]}
        return keys, rect_of(answer[-1]["window"])

    def focus_target(self):
        deadline = time.monotonic() + 3
        while self.driver.one("activate " + TARGET_CLASS).get("class") != TARGET_CLASS:
            if time.monotonic() > deadline:
                raise BenchError("the target did not take the foreground")
            time.sleep(0.1)

    def pointer_away(self, windows):
        """A point of the screen right of the windows, off every window we show."""
        right = max(w[2] for w in windows)
        top, bottom = min(w[1] for w in windows), max(w[3] for w in windows)
        self.driver.one("move %d %d" % (min(1275, max(right + 20, 1200)), (top + bottom) // 2))

    def startup(self, program):
        started = self.start(program)
        self.samples.add("startup", program, float(started["painted_ms"]))
        self.samples.add("look", program, float(started["look_ms"]))
        if float(started["idle_ms"]) >= 0:
            self.samples.add("input_idle", program, float(started["idle_ms"]))

    def measure(self, order):
        """Memory, idle CPU and latency, both programs open side by side: the
        keyboard goes to the bottom of the screen, the floor stays higher up.
        Their start-up is timed apart, each alone on the desktop."""
        for program in order:
            self.start(program)
        try:
            time.sleep(RSS_SETTLE)
            pids, keys, windows = {}, {}, []
            for program in order:
                pids[program] = unix_process(self.prefix, self.exes[program])
                if pids[program] is None:
                    reason = "the Wine process of %s was not found in /proc" % os.path.basename(
                        self.exes[program])
                    self.samples.not_available("rss", reason)
                    self.samples.not_available("idle", reason)
                else:
                    rss = rss_kib(pids[program])
                    if rss is None:
                        raise BenchError("no VmRSS for PID %d" % pids[program])
                    self.samples.add("rss", program, rss)
                keys[program], window = self.children(program)
                windows.append(window)
            self.focus_target()
            self.pointer_away(windows)
            before = {p: cpu_ticks(pid) for p, pid in pids.items() if pid is not None}
            time.sleep(self.args.idle_seconds)
            for program, ticks in before.items():
                self.samples.add("idle", program, cpu_ticks(pids[program]) - ticks)
            for vk in LATENCY_KEYS:
                for program in order:
                    self.latency(program, keys[program], vk)
            self.pointer_away(windows)
        finally:
            for program in order:
                self.driver.one("end " + self.classes[program])

    def latency(self, program, keys, vk):
        key = keys.get(0x1000 | vk)
        if key is None:
            raise BenchError("%s has no key with id 0x%04x" % (program, 0x1000 | vk))
        mark = self.target_log.count()
        clicked = self.driver.one("click %d %d %d" % (key["centre"] + (CLICK_SETTLE_MS,)))
        arrived = self.target_log.wait_key_down(vk, mark)
        if arrived is None:
            self.samples.not_available("latency", "no key event of vk %d reached the target's hook within %.0f s"
                                       % (vk, EVENT_TIMEOUT))
            return
        self.samples.add("latency", program, (arrived - int(clicked["qpc"])) * 1000.0 / self.freq)
        time.sleep(0.1)

    # --- the Shift click on the instrumented build ---------------------------------

    def shift_click(self):
        if not os.path.exists(self.exes["instrumented"]):
            self.samples.not_available("shift", "vimbrel_instrumented.exe was not built")
            return
        if os.path.exists(self.instrument_log):
            os.remove(self.instrument_log)
        self.start("instrumented")
        clicks = []
        try:
            time.sleep(0.5)
            keys, window = self.children("instrumented")
            captions = [{i: k["text"] for i, k in keys.items()}]
            self.focus_target()
            for _ in range(2):  # Shift on, then off again
                centre = keys[LEFT_SHIFT_ID]["centre"]
                clicked = self.driver.one("click %d %d %d" % (centre + (CLICK_SETTLE_MS,)))
                clicks.append(int(clicked["qpc"]))
                time.sleep(PAINT_SETTLE)
                after, _ = self.children("instrumented")
                captions.append({i: k["text"] for i, k in after.items()})
            self.pointer_away([window])
        finally:
            self.driver.one("end " + KEYBOARD_CLASS)
        events = []
        try:
            with open(self.instrument_log, encoding="ascii") as f:
                events = [parse_line(line) for line in f.read().splitlines() if line.strip()]
        except FileNotFoundError:
            pass
        if not any(e["name"] == "paint" for e in events):
            self.samples.not_available("shift", "vimbrel_instrumented.exe recorded no paints: the measuring "
                                       "hooks are not in the sources")
            return
        if any(e["name"] == "dropped" for e in events):
            self.samples.not_available("shift", "the instrumented build dropped events")
            return
        bounds = clicks + [None]
        for n in range(2):
            figures = shift_figures(captions[n], captions[n + 1], events, bounds[n], bounds[n + 1], self.freq)
            for figure, value in figures.items():
                if value is None:
                    self.samples.not_available(figure, "no timed BN_CLICKED of the Shift key")
                else:
                    self.samples.add(figure, "keyboard", value)

    # --- the whole run ---------------------------------------------------------------

    def run(self):
        # One start of each, not counted: the first start reads the files from disk.
        for program in ("keyboard", "floor"):
            self.start(program)
            if program == "floor" and self.driver.one("pending " + FLOOR_CLASS)["seen"] != "1":
                self.samples.not_available("startup", "Wine does not show us another process's update "
                                           "regions, so a paint still to come cannot be told from one done")
            self.driver.one("end " + self.classes[program])
        for n in range(self.args.rounds):
            order = ("keyboard", "floor") if n % 2 == 0 else ("floor", "keyboard")
            for _ in range(STARTS_PER_ROUND):
                for program in order:
                    self.startup(program)
                    self.driver.one("end " + self.classes[program])
            self.measure(order)
            self.shift_click()
            print("round %d of %d done" % (n + 1, self.args.rounds), file=sys.stderr, flush=True)


def first_complete_draw(readings):
    """The time of the first complete draw from x_bench's readings of a new
    window, [(ms, picture)] in order, the last taken once the window had been
    quiet: the picture last read is the complete one, and the first complete
    draw is the earliest reading from which every later one equals it (a
    window may show its final picture, then draw something else over it, then
    the final picture again). None when the last picture could not be read."""
    if not readings or readings[-1][1] == 0:
        return None
    first = len(readings) - 1
    while first > 0 and readings[first - 1][1] == readings[-1][1]:
        first -= 1
    return readings[first][0]


class NativeBench:
    """The native keyboard (build/native/vimbrel) and its floor (bench/gtk/floor)
    measured side by side on a display of their own, no Wine: x_bench starts,
    times and clicks them and is the X target of their keys."""

    def __init__(self, args, state_path, workdir):
        self.args = args
        self.env = sessionlib.Session.load(state_path).env()
        self.programs = {"keyboard": os.path.join(args.native_dir, "vimbrel"),
                         "floor": os.path.join(args.native_dir, "bench", "gtk", "floor")}
        self.samples = Samples()
        self.driver = Driver([os.path.join(args.native_dir, "bench", "gtk", "x_bench")], self.env,
                             os.path.join(workdir, "x_bench.log"))
        self.letters = {k.index: k for k in read_key_table() if k.control == "SKB" and k.index in LATENCY_KEYS}
        self.client_width = client_twips()[0]
        self.running = {}

    def close(self):
        for program in list(self.running):
            self.end(program)
        self.driver.close()

    def start(self, program):
        answer = self.driver.lines("start %d %s" % (QUIET_MS, self.programs[program]))
        started = answer[-1]
        if started["name"] != "started":
            raise BenchError("%s did not start: %r" % (program, started))
        self.running[program] = started
        painted = first_complete_draw([(float(i["ms"]), int(i["picture"], 16)) for i in answer[:-1]
                                       if i["name"] == "reading"])
        if painted is None:
            raise BenchError("the window of %s could not be read back" % program)
        started["painted_ms"] = painted
        return started

    def end(self, program):
        started = self.running.pop(program)
        self.driver.one("end " + started["pid"])

    def pointer_away(self):
        self.driver.one("move %d %d" % AWAY)

    def startup(self, program):
        started = self.start(program)
        self.samples.add("startup", program, started["painted_ms"])
        self.samples.add("mapped", program, float(started["mapped_ms"]))
        self.end(program)

    def measure(self, order):
        """Memory, idle CPU and latency, both programs open side by side: the
        keyboard goes to the bottom of the screen, the floor stays higher up."""
        for program in order:
            self.start(program)
        try:
            time.sleep(RSS_SETTLE)
            for program in order:
                rss = rss_kib(int(self.running[program]["pid"]))
                if rss is None:
                    raise BenchError("no VmRSS for %s" % program)
                self.samples.add("rss", program, rss)
            self.driver.one("focus")
            self.pointer_away()
            pids = {p: int(self.running[p]["pid"]) for p in order}
            before = {p: cpu_ticks(pid) for p, pid in pids.items()}
            time.sleep(self.args.idle_seconds)
            for program, ticks in before.items():
                self.samples.add("idle", program, cpu_ticks(pids[program]) - ticks)
            centres = {p: self.key_centres(p) for p in order}
            for vk in LATENCY_KEYS:
                for program in order:
                    self.latency(program, centres[program][vk], chr(vk).lower())
            self.pointer_away()
        finally:
            for program in order:
                if program in self.running:
                    self.end(program)

    def key_centres(self, program):
        """The screen point at the centre of each latency key, from the window's
        inside and the keys' places in the layout table, at the window's scale."""
        origin = self.driver.one("origin " + self.running[program]["window"])
        x, y, width = int(origin["x"]), int(origin["y"]), int(origin["width"])

        def px(twips):
            return int(twips * width / self.client_width + 0.5)
        return {vk: (x + (px(k.left) + px(k.right)) // 2, y + (px(k.top) + px(k.bottom)) // 2)
                for vk, k in self.letters.items()}

    def latency(self, program, centre, keysym):
        clicked = self.driver.one("click %d %d %d %s %d" % (centre + (CLICK_SETTLE_MS, keysym,
                                                                     EVENT_TIMEOUT * 1000)))
        if float(clicked["ms"]) < 0:
            self.samples.not_available("latency", "no KeyPress of %s reached the target within %.0f s"
                                       % (keysym, EVENT_TIMEOUT))
        else:
            self.samples.add("latency", program, float(clicked["ms"]))
        time.sleep(0.1)

    def run(self):
        self.driver.one("focus")
        self.pointer_away()
        # One start of each, not counted: the first start reads the files from disk.
        for program in ("keyboard", "floor"):
            self.start(program)
            self.end(program)
        for n in range(self.args.rounds):
            order = ("keyboard", "floor") if n % 2 == 0 else ("floor", "keyboard")
            for _ in range(STARTS_PER_ROUND):
                for program in order:
                    self.startup(program)
            self.measure(order)
            print("native round %d of %d done" % (n + 1, self.args.rounds), file=sys.stderr, flush=True)


class WaylandBench:
    """The native keyboard on Wayland (build/native/vimbrel as a layer surface) and its
    floor (bench/gtk/wl_floor) on a headless sway, one at a time at the same place,
    typing into cat in foot. Start-up: from the start until the bottom of the output,
    read back with grim, no longer changes (the first complete frame); latency: from the
    pointer's press on a key (the release right after it) to the key's byte in cat's file."""

    BOTTOM = "0,700 1280x324"  # where both windows are drawn

    def __init__(self, args, workdir):
        self.args = args
        self.samples = Samples()
        self.programs = {"keyboard": [os.path.join(args.native_dir, "vimbrel")],
                         "floor": [os.path.join(args.native_dir, "bench", "gtk", "wl_floor")]}
        os.environ.setdefault("VIMBREL_NATIVE_BUILD", args.native_dir)
        self.letters = {k.index: k for k in read_key_table() if k.control == "SKB" and k.index in LATENCY_KEYS}
        self.desk = type("Desk", (), {"out_dir": workdir})()
        self.session = wayland_cases.Wayland(self.desk, "wayland_bench")
        self.session.__enter__()
        self.session.start_foot()
        self.running = None

    def close(self):
        if self.running is not None:
            self.end()
        self.session.__exit__()

    def picture(self):
        return hash(self.session.run("grim", "-t", "ppm", "-g", self.BOTTOM, "-").stdout)

    def start(self, program):
        empty = self.picture()
        began = time.monotonic()
        self.running = self.session.spawn(self.programs[program], program)
        readings, quiet_since, last = [], None, empty
        while True:
            now = time.monotonic()
            picture = self.picture()
            readings.append(((now - began) * 1000, picture))
            if picture != last:
                quiet_since, last = now, picture
            elif picture != empty and now - quiet_since >= QUIET_MS / 1000:
                break
            if now - began > 20 or self.running.poll() is not None:
                raise BenchError("%s did not draw on sway" % program)
        return first_complete_draw(readings)

    def end(self):
        self.running.terminate()
        self.running.wait(timeout=10)
        self.running = None

    def measure(self, program):
        self.samples.add("startup", program, self.start(program))
        try:
            time.sleep(RSS_SETTLE)
            self.samples.add("rss", program, rss_kib(self.running.pid))
            self.session.move(*AWAY)
            ticks = cpu_ticks(self.running.pid)
            time.sleep(self.args.idle_seconds)
            self.samples.add("idle", program, cpu_ticks(self.running.pid) - ticks)
            self.session.origin = wayland_cases.bottom_centre()
            for vk in LATENCY_KEYS:
                self.latency(program, self.letters[vk])
            self.session.move(*AWAY)
        finally:
            self.end()

    def latency(self, program, key):
        s = self.session
        s.move(*s.point(("SKB", key.index)))
        time.sleep(CLICK_SETTLE_MS / 1000)
        count = len(s.typed())
        released = time.monotonic()  # as x_bench does: the press and the release at once, timed from the press
        s.pointer_do("press", "release")
        while len(s.typed()) == count:
            if time.monotonic() - released > EVENT_TIMEOUT:
                self.samples.not_available("latency", "no byte reached cat in foot within %.0f s" % EVENT_TIMEOUT)
                return
            time.sleep(0.0005)
        self.samples.add("latency", program, (time.monotonic() - released) * 1000)
        time.sleep(0.1)

    def run(self):
        for program in ("keyboard", "floor"):  # not counted: the first start reads the files from disk
            self.start(program)
            self.end()
        for n in range(self.args.rounds):
            order = ("keyboard", "floor") if n % 2 == 0 else ("floor", "keyboard")
            for _ in range(STARTS_PER_ROUND - 1):
                for program in order:
                    self.samples.add("startup", program, self.start(program))
                    self.end()
            for program in order:
                self.measure(program)
            print("wayland round %d of %d done" % (n + 1, self.args.rounds), file=sys.stderr, flush=True)


# --- the table -------------------------------------------------------------------------

def spread(values, digits):
    if not values:
        return "n/a"
    f = "%%.%df" % digits
    return " / ".join(f % v for v in (min(values), statistics.median(values), max(values)))


HEADER = ("figure", "n", "keyboard min / median / max", "floor min / median / max", "ratio", "goal", "result")


def count(kb, fl=None):
    return str(len(kb)) if fl is None else "%d/%d" % (len(kb), len(fl))


def ratio_row(samples, title, figure, digits, limit, goal_text, use_total=False):
    """A figure of the keyboard against the floor's: the row, and a note when it is n/a."""
    kb, fl = samples.get(figure, "keyboard"), samples.get(figure, "floor")
    if figure in samples.missing or not kb or not fl:
        return ((title, count(kb, fl), spread(kb, digits), spread(fl, digits), "n/a", goal_text, "n/a"),
                "%s: n/a: %s" % (title, samples.missing.get(figure, "no samples")))
    if use_total:
        a, b = sum(kb), sum(fl)
        ratio = "%.2f" % (a / b) if b else ("-" if a == 0 else "inf")
        ok = a <= b
    else:
        a, b = statistics.median(kb), statistics.median(fl)
        ratio = "%.3f" % (a / b) if b else "n/a"
        ok = a <= limit * b
    return (title, count(kb, fl), spread(kb, digits), spread(fl, digits), ratio, goal_text,
            "PASS" if ok else "FAIL"), None


def floor_rows(samples, idle_seconds, startup_title, latency_title):
    """The four figures both front ends are held to against their floors."""
    rows, notes = [], []
    for row, note in (
            ratio_row(samples, startup_title, "startup", 1, 1.2, "median <= 1.2 x floor"),
            ratio_row(samples, "resident memory after start-up (KiB)", "rss", 0, 1.1, "median <= 1.1 x floor"),
            ratio_row(samples, "idle CPU over %g s (ticks)" % idle_seconds, "idle", 0, None, "total <= floor's",
                      use_total=True),
            ratio_row(samples, latency_title, "latency", 2, 1.1, "median <= 1.1 x floor")):
        rows.append(row)
        if note:
            notes.append(note)
    return rows, notes


def layout(rows):
    widths = [max(len(str(r[i])) for r in rows + [HEADER]) for i in range(len(HEADER))]
    lines = ["  ".join(str(c).ljust(w) for c, w in zip(row, widths)).rstrip() for row in [HEADER] + rows]
    lines.insert(1, "  ".join("-" * w for w in widths))
    return lines


def native_table(samples, idle_seconds):
    """The rows of the native keyboard's table and the notes under it."""
    rows, notes = floor_rows(samples, idle_seconds, "start-up to first complete draw (ms)",
                             "click to KeyPress at the X target (ms)")
    kb, fl = samples.get("mapped", "keyboard"), samples.get("mapped", "floor")
    if kb and fl:
        notes.append("start-up: the window was mapped after (median) keyboard %.1f ms, floor %.1f ms"
                     % (statistics.median(kb), statistics.median(fl)))
    return layout(rows), notes


def wayland_table(samples, idle_seconds):
    rows, notes = floor_rows(samples, idle_seconds, "start-up to first complete frame (ms)",
                             "click to byte at cat in foot (ms)")
    return layout(rows), notes


def table(samples, exes, idle_seconds):
    """The rows of the table and the notes under it."""
    rows, notes = floor_rows(samples, idle_seconds, "start-up to first complete paint (ms)",
                             "click to key event at the target (ms)")

    def shift_row(title, figure, digits, goal_text, check):
        values = samples.get(figure, "keyboard")
        reason = samples.missing.get("shift") or (None if values else samples.missing.get(figure, "no samples"))
        if reason:
            rows.append((title, "0", "n/a", "-", "-", goal_text, "n/a"))
            note = "%s: n/a: %s" % ("Shift click" if "shift" in samples.missing else title, reason)
            if note not in notes:
                notes.append(note)
            return
        result = "-" if check is None else ("PASS" if check(values) else "FAIL")
        rows.append((title, count(values), spread(values, digits), "-", "-", goal_text, result))

    shift_row("Shift click: most repaints of another key", "shift_most", 0, "<= 1", lambda v: max(v) <= 1)
    shift_row("Shift click: captions changed", "shift_changed", 0, "= %d" % SHIFT_CAPTIONS,
              lambda v: all(x == SHIFT_CAPTIONS for x in v))
    shift_row("Shift click: keys repainted", "shift_painted", 0, "(information)", None)
    shift_row("Shift click: repainted, caption unchanged", "shift_idle_paints", 0, "(information)", None)
    shift_row("Shift click: repaints of the Shift key", "shift_own", 0, "(information)", None)
    shift_row("Shift click: handler time (ms)", "shift_handler", 2, "(information)", None)

    sizes = {p: os.path.getsize(exes[p]) for p in ("keyboard", "floor")}
    imports = pe_imports(exes["keyboard"])
    foreign = [d for d in imports if d.lower() not in SYSTEM_DLLS]
    rows.append(("exe size (KiB)", "1", "%.1f" % (sizes["keyboard"] / 1024), "%.1f" % (sizes["floor"] / 1024),
                 "%.2f" % (sizes["keyboard"] / sizes["floor"]), "<= %d KiB" % (EXE_LIMIT // 1024),
                 "PASS" if sizes["keyboard"] <= EXE_LIMIT else "FAIL"))
    rows.append(("exe imports only system DLLs", "1", "%d DLLs, %d others" % (len(imports), len(foreign)),
                 "%d DLLs" % len(pe_imports(exes["floor"])), "-", "static", "FAIL" if foreign else "PASS"))

    notes.append("vimbrel.exe imports: " + ", ".join(imports))
    if foreign:
        notes.append("not system DLLs: " + ", ".join(foreign))
    kb, fl = samples.get("input_idle", "keyboard"), samples.get("input_idle", "floor")
    if kb and fl:
        notes.append("start-up: WaitForInputIdle returned after (median) keyboard %.1f ms, floor %.1f ms"
                     % (statistics.median(kb), statistics.median(fl)))
    kb, fl = samples.get("look", "keyboard"), samples.get("look", "floor")
    if kb and fl:
        notes.append("start-up: the look that confirmed the paint took (median) keyboard %.1f ms, floor %.1f ms"
                     % (statistics.median(kb), statistics.median(fl)))

    return layout(rows), notes


def machine(arch):
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        total_kib = int(f.readline().split()[1])
    loader = sessionlib.WINE64 if arch == "win64" else "wine"
    wine = subprocess.run([loader, "--version"], capture_output=True, text=True).stdout.strip()
    return "%d cores (nproc), %s, %.1f GiB memory, %s" % (len(os.sched_getaffinity(0)), model,
                                                         total_kib / 1024 / 1024, wine)


def gtk_version():
    run = subprocess.run(["pkg-config", "--modversion", "gtk+-3.0"], capture_output=True, text=True)
    return run.stdout.strip() or "3"


def load_average():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def other_wineservers():
    """Wine servers still running once ours has ended: other sessions, sharing our cores."""
    count = 0
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                first = f.read().split(b"\0")[0]
        except OSError:
            continue
        if os.path.basename(first).startswith(b"wineserver"):
            count += 1
    return count


def measured(bench_class, args, native):
    """Runs one side in a session of its own; its samples and the programs' paths."""
    workdir = tempfile.mkdtemp(prefix="vimbrel-bench-")
    state_path = os.path.join(workdir, "session.json")
    bench = None
    try:
        if bench_class is WaylandBench:
            bench = WaylandBench(args, workdir)
            bench.run()
            return bench.samples, None
        if native:
            sessionlib.start(state_path, native=True)
        else:
            sessionlib.start(state_path)
        bench = bench_class(args, state_path, workdir)
        bench.run()
        return bench.samples, getattr(bench, "exes", None)
    finally:
        if bench is not None:
            try:
                bench.close()
            except BenchError:
                pass
        sessionlib.stop(state_path)
        shutil.rmtree(workdir, ignore_errors=True)


def print_samples(title, samples):
    for figure, programs in samples.values.items():
        for program, values in programs.items():
            print("samples %s%s %s: %s" % (title, figure, program, " ".join("%g" % v for v in values)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    parser.add_argument("--native-dir", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--only", choices=("windows", "native", "wayland"), help="measure one front end only")
    parser.add_argument("--samples", action="store_true", help="also print every sample, in the order taken")
    args = parser.parse_args()
    arch, why = sessionlib.wine_arch()
    windows_dir = sessionlib.build_dir(arch)
    args.native_dir = os.path.abspath(args.native_dir)
    sides = ("windows", "native", "wayland") if args.only is None else (args.only,)
    needed = []
    if "windows" in sides:
        needed += [os.path.join(windows_dir, *path) for path in (
            ("vimbrel.exe",), ("bench", "win32", "floor.exe"), ("tests", "e2e", "win32", "probe.exe"),
            ("tests", "e2e", "win32", "target.exe"))]
    if "native" in sides:
        needed += [os.path.join(args.native_dir, *path) for path in (
            ("vimbrel",), ("bench", "gtk", "floor"), ("bench", "gtk", "x_bench"))]
    if "wayland" in sides:
        needed += [os.path.join(args.native_dir, *path) for path in (
            ("vimbrel",), ("bench", "gtk", "wl_floor"), ("tests", "e2e", "wayland", "w_pointer"))]
    missing = [p for p in needed if not os.path.exists(p)]
    if missing:
        print("run_bench: missing %s; scripts/bench.sh builds them with the %s and native presets"
              % (", ".join(missing), arch), file=sys.stderr)
        return 2

    begun = time.monotonic()
    load_before = load_average()
    results = {}
    try:
        if "windows" in sides:
            results["windows"] = measured(Bench, args, native=False)
        if "native" in sides:
            results["native"] = measured(NativeBench, args, native=True)
        if "wayland" in sides:
            results["wayland"] = measured(WaylandBench, args, native=True)
    except BenchError as e:
        print("run_bench: %s" % e, file=sys.stderr)
        return 2

    print("Vimbrel benchmark, %s" % time.strftime("%a %d %b %Y %H:%M:%S %Z"))
    print("machine: %s; Xvfb and openbox, a session of their own for each build; %d rounds, keyboard and "
          "floor alternating first" % (machine(arch), args.rounds))
    print("load average (1 min) before the run %s, after it %s; other Wine servers running: %d"
          % (load_before, load_average(), other_wineservers()))
    sides = (("windows", "Windows build under Wine, %s (%s): build/%s/vimbrel.exe against bench/win32/floor.exe "
              "of the same tree" % (arch, why, arch), "",
              lambda samples, exes: table(samples, exes, args.idle_seconds)),
             ("native", "Native build: build/native/vimbrel against bench/gtk/floor (GTK %s)" % gtk_version(),
              "native ", lambda samples, _: native_table(samples, args.idle_seconds)),
             ("wayland", "Native build on Wayland (headless sway): build/native/vimbrel against bench/gtk/wl_floor "
              "(GTK %s, gtk-layer-shell)" % gtk_version(), "wayland ",
              lambda samples, _: wayland_table(samples, args.idle_seconds)))
    for side, title, sample_prefix, make_table in sides:
        if side not in results:
            continue
        samples, exes = results[side]
        lines, notes = make_table(samples, exes)
        print()
        print(title)
        print()
        print("\n".join(lines))
        print()
        for note in notes:
            print(note)
        if args.samples:
            print_samples(sample_prefix, samples)
    print("run time: %.0f s" % (time.monotonic() - begun))
    return 0


if __name__ == "__main__":
    sys.exit(main())
