#!/usr/bin/python3
"""The longer end-to-end cases under Wine: a soak of thousands of random clicks,
every way the keyboard can be ended, many copies started at once, and the
window at 96, 120 and 144 dpi.

    quality.py --state STATE --win32-dir DIR --out-dir DIR --predict PATH CASE [CASE...]
    quality.py --list

STATE is the file written by `session.py start` (default: $VIMBREL_E2E_STATE);
PATH is the native soak_predict tool, the core's own account of a click sequence.
The soak's sequence comes from a seed, printed at the start: VIMBREL_SOAK_SEED
replays a run, VIMBREL_SOAK_SECONDS sets how long the clicking lasts.
"""

import argparse
import os
import random
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
from e2e import (CONTROLS, KEYBOARD_CLASS, LLKHF_EXTENDED, LLKHF_UP, TARGET_CLASS,  # noqa: E402
                 CaseFailure, Child, Run, Window, check, control_id)

SOURCE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
KEY_TABLE = os.path.join(SOURCE_DIR, "layout", "key_table.h")

SOAK_SEED = 20240611
SOAK_SECONDS = 100
SOAK_BUDGET = 135          # seconds from the start of the case to the end of the clicking
CLICK_GAP = 0.02           # seconds between two clicks within one xdotool call
BACKGROUND_HOLD = 0.3      # a background press starts the system's move loop: give it time
BACKGROUND_AFTER = 0.35    # and time to end before the next click
BACKGROUND_SHARE = 0.01    # of the soak's clicks
BATCH = 40                 # clicks per xdotool call

LOCK_VKS = (20, 144, 145)
MODIFIERS = {("控制", 162), ("控制", 163), ("转换", 164), ("转换", 165),
             ("徽标", 91), ("徽标", 92), ("换档", 160), ("换档", 161)}
ALT_VKS = (164, 165)
F4 = 115
WARM_UP = 600              # clicks before the first count of the keyboard's objects
MAX_OBJECT_GROWTH = 3      # after warm-up; a leak of one object per click would show thousands
MAX_RSS_GROWTH = 4096      # KiB after warm-up


# --- the keys, as the layout table defines them -------------------------------------

class KeyDef:
    """One row of layout/key_table.h: the control and index, and the rect in twips."""

    def __init__(self, control, index, left, top, width, height):
        self.control, self.index = control, index
        self.left, self.top, self.right, self.bottom = left, top, left + width, top + height
        self.id = control_id(control, index)

    def __repr__(self):
        return "%s(%d)" % (self.control, self.index)


def read_table_text(path=KEY_TABLE):
    with open(path, encoding="utf-8") as f:
        return f.read()


def read_key_table(path=KEY_TABLE):
    text = read_table_text(path)
    string = r'u"(?:[^"\\]|\\.)*"'
    row = re.compile(r"\{\{Control::(\w+),\s*(\d+)\},\s*%s,\s*%s,\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+),"
                     % (string, string))
    keys = [KeyDef(m.group(1), int(m.group(2)), *(int(m.group(i)) for i in range(3, 7)))
            for m in row.finditer(text)]
    check(len(keys) == 104, "read %d keys from %s, expected 104" % (len(keys), path))
    for key in keys:
        check(key.control in CONTROLS, "unknown control %s in %s" % (key.control, path))
    return keys


def client_twips():
    text = read_table_text()
    width = re.search(r"kClientWidth\s*=\s*(\d+)", text)
    height = re.search(r"kClientHeight\s*=\s*(\d+)", text)
    check(width and height, "no client size in %s" % KEY_TABLE)
    return int(width.group(1)), int(height.group(1))


# --- the desktop, with our own helper ------------------------------------------------

class Quality:
    """The shared session as e2e.py drives it, plus quality_probe.exe and soak_predict."""

    def __init__(self, state, win32_dir, out_dir, predict):
        self.desktop = e2e.Desktop(state, win32_dir, out_dir)
        self.predict_exe = predict
        self.helper_exe = None
        for path in (os.path.join(win32_dir, "tests", "e2e", "quality_win32", "quality_probe.exe"),
                     os.path.join(win32_dir, "quality_probe.exe")):
            if os.path.exists(path):
                self.helper_exe = path
                break
        check(self.helper_exe is not None,
              "quality_probe.exe not found under %s: build the win32 preset with "
              "tests/e2e/quality_win32" % win32_dir)
        check(os.path.exists(os.path.join(os.path.dirname(self.helper_exe), "quality_inject.dll")),
              "quality_inject.dll is not beside %s" % self.helper_exe)

    @property
    def env(self):
        return self.desktop.env

    def helper(self, *args, allow_failure=False):
        result = subprocess.run(["wine", self.helper_exe] + [str(a) for a in args], env=self.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=90)
        if result.returncode == 2 or (result.returncode != 0 and not allow_failure):
            raise CaseFailure("quality_probe %s: exit %d\n%s%s" % (
                " ".join(map(str, args)), result.returncode, result.stdout, result.stderr))
        return [e2e.parse_line(line) for line in result.stdout.splitlines() if line.strip()]

    def helper_one(self, *args):
        items = self.helper(*args)
        check(len(items) == 1, "quality_probe %s printed %r" % (args, items))
        return items[0]

    def predict(self, clicks):
        """The key events the core sends for the clicks, as (vk, up) pairs."""
        result = subprocess.run([self.predict_exe], input="".join(c + "\n" for c in clicks),
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 0, "soak_predict failed: %s" % result.stderr.strip())
        events = []
        for line in result.stdout.splitlines():
            kind, vk = line.split()
            events.append((int(vk), 1 if kind == "up" else 0))
        return events


def click_text(key):
    """A click as soak_predict reads it: the key's control id in hex."""
    return "0x%04x" % key.id


def click_text_of(control, index=0):
    return "0x%04x" % control_id(control, index)


def event_text(events):
    return " ".join("%d%s" % (vk, "^" if up else "v") for vk, up in events)


def flag_problems(events):
    """Every event the keyboard sends has scan code 0, no extended flag and extra 0."""
    problems = []
    for n, (vk, up, scan, flags, extra) in enumerate(events):
        if scan != 0 or flags & LLKHF_EXTENDED or extra != 0 or bool(flags & LLKHF_UP) != bool(up):
            problems.append("event %d vk %d %s: scan %d flags 0x%x extra %d"
                            % (n, vk, "up" if up else "down", scan, flags, extra))
    return problems


def keys_left_down(events):
    down = set()
    for vk, up, *_ in events:
        (down.discard if up else down.add)(vk)
    return sorted(down)


def background_points(run, count, rng):
    """Points of the client area that no child covers, with room around them."""
    client = run.keyboard.client
    children = list(run.children.values())
    points = [(x, y) for y in range(client.top + 4, client.bottom - 4, 3)
              for x in range(client.left + 4, client.right - 4, 3)
              if not any(c.rect.contains(x, y, margin=4) for c in children)]
    check(points, "no background point free of keys in the client area %r" % client)
    return [rng.choice(points) for _ in range(count)]


def aftermath(q, run):
    """What is left of the session when the keyboard ended early."""
    desktop = q.desktop
    server = desktop.session.state.get("pids", {}).get("wineserver")
    try:
        count = desktop.probe_one("count", KEYBOARD_CLASS)["n"]
        foreground = run.foreground_class()
    except (CaseFailure, subprocess.SubprocessError) as failure:
        count = foreground = "unknown (%s)" % failure
    return ("%s keyboard window(s), foreground %s, target %s, the session's wineserver %s"
            % (count, foreground, "running" if process_alive(run.target_proc) else "ended",
               "running" if server and os.path.exists("/proc/%d" % server) else "gone"))


def process_alive(proc):
    return proc is not None and proc.poll() is None


def rss_kib(prefix, name):
    """Resident memory of the Linux process that runs the Windows program NAME
    in the Wine prefix PREFIX, in KiB."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                first = f.read().split(b"\0")[0]
            if not first.lower().endswith(name.encode()):
                continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
            if ("WINEPREFIX=%s" % prefix).encode() not in environ:
                continue
            with open("/proc/%s/status" % pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except OSError:
            continue
    return None


# --- soak ------------------------------------------------------------------------------

def soak_clicks(keys, rng, count):
    """A random sequence over all 104 keys and the background. F4 is never clicked
    while an Alt is latched: Alt+F4 closes the target's window (Wine's default
    window procedure turns it into SC_CLOSE), which would end the test's receiver.
    Every other combination was tried under Wine and leaves the target in front:
    Alt+Space, Alt+Tab, Alt+Esc, Ctrl+Esc, Ctrl+Alt+Del, the Windows keys alone and
    with letters, F10, Shift+F10, the menu key and Print Screen."""
    clicks = []
    alts = set()
    while len(clicks) < count:
        if rng.random() < BACKGROUND_SHARE:
            clicks.append("bg")
            continue
        key = rng.choice(keys)
        if key.control == "SKB" and key.index == F4 and alts:
            continue
        if key.control == "转换":
            alts ^= {key.index}
        clicks.append(key)
    return clicks


def check_no_alt_f4(events):
    """The generator's idea of the Alt latches agrees with the core's."""
    down = set()
    for n, (vk, up) in enumerate(events):
        if vk == F4 and not up and down & set(ALT_VKS):
            raise CaseFailure("the sequence presses F4 with Alt down at event %d" % n)
        (down.discard if up else down.add)(vk)


def closing_clicks(keys, predicted):
    """Clicks that leave the system as the soak found it: every latched modifier
    released, every lock toggled an even number of times."""
    by_vk = {}
    for key in keys:
        if (key.control, key.index) in MODIFIERS:
            by_vk[key.index] = key
    by_lock = {20: "大写锁", 144: "数字锁", 145: "卷轴锁"}
    locks = {key.control: key for key in keys if key.control in by_lock.values()}
    clicks = [by_vk[vk] for vk in keys_left_down(predicted)]
    for vk, control in by_lock.items():
        strokes = sum(1 for v, up in predicted if v == vk and not up)
        if strokes % 2:
            clicks.append(locks[control])
    return clicks


MODIFIER_VKS = {vk for _, vk in MODIFIERS}


def relatched(events):
    """The (vk, up) pairs without the presses of a modifier that is down already: the
    keyboard presses a latched modifier again when the system lets go of it behind its
    back (Wine does when a background press runs the move loop), which the core does not
    see. Returns the pairs and how many such presses there were."""
    down, pairs, repressed = set(), [], 0
    for vk, up, *_ in events:
        if not up and vk in MODIFIER_VKS and vk in down:
            repressed += 1
            continue
        (down.discard if up else down.add)(vk)
        pairs.append((vk, up))
    return pairs, repressed


def received(log, count, timeout):
    """Polls the target's log until `count` events other than re-presses have come."""
    deadline = time.monotonic() + timeout
    while True:
        pairs, repressed = relatched(log.events())
        if len(pairs) >= count or time.monotonic() >= deadline:
            return pairs, repressed
        time.sleep(0.05)


def first_divergence(got, want):
    for n, (g, w) in enumerate(zip(got, want)):
        if g != w:
            return n
    return min(len(got), len(want))


def divergence_report(q, clicks, got, want):
    """Where the received events first part from the predicted ones, and after which click."""
    n = first_divergence(got, want)
    at = click_of_event(q, clicks, n) if n < len(want) else len(clicks)
    return ("the target received %d key events, the core predicts %d; first difference at event "
            "%d, from click %d of %d (clicks from %d: %s):\n  received  ...%s\n  predicted ...%s"
            % (len(got), len(want), n, at, len(clicks), max(0, at - 5),
               " ".join(clicks[max(0, at - 5):at + 3]),
               event_text(got[max(0, n - 6):n + 6]), event_text(want[max(0, n - 6):n + 6])))


def click_of_event(q, clicks, n):
    """The click whose key events include predicted event n (smallest prefix that reaches it)."""
    low, high = 0, len(clicks)
    while low < high:
        mid = (low + high) // 2
        if len(q.predict(clicks[:mid + 1])) > n:
            high = mid
        else:
            low = mid + 1
    return low


def sample_objects(q, pid, when, samples):
    time.sleep(0.5)  # let the last click's repaint finish
    item = q.helper_one("objects", pid)
    rss = rss_kib(q.env["WINEPREFIX"], "vimbrel.exe")
    sample = {"when": when, "gdi": int(item["gdi"]), "user": int(item["user"]),
              "windows": int(item["windows"]), "menus": int(item["menus"]),
              "icons": int(item["icons"]), "rss": rss}
    samples.append(sample)
    print("  objects after %-18s gdi=%d user=%d (windows %d, menus %d, icons %d) rss=%s KiB"
          % (when, sample["gdi"], sample["user"], sample["windows"], sample["menus"],
             sample["icons"], rss))
    sys.stdout.flush()


def case_soak(q):
    """Thousands of random clicks: the target receives exactly the core's key events,
    the keyboard keeps running without growing its GUI objects, no key stays down."""
    case_started = time.monotonic()
    desktop = q.desktop
    keys = read_key_table()
    seed = int(os.environ.get("VIMBREL_SOAK_SEED", SOAK_SEED))
    seconds = float(os.environ.get("VIMBREL_SOAK_SECONDS", SOAK_SECONDS))
    fixed = os.environ.get("VIMBREL_SOAK_CLICKS")
    rng = random.Random(seed)
    plan = soak_clicks(keys, rng, int(fixed) if fixed else 20000)
    print("soak seed %d (VIMBREL_SOAK_SEED=%d replays it), %s" % (
        seed, seed, "%s clicks" % fixed if fixed else "clicking for %.0f s" % seconds))

    samples = []
    failures = []
    with Run(desktop, "soak") as run:
        pid = run.keyboard_window().pid
        # GetGuiResources is what Windows offers for this; say what this system answers.
        gui = q.helper_one("gui", pid)
        print("GetGuiResources: gdi=%s (error %s), user=%s (error %s)"
              % (gui["gdi"], gui["gdi_error"], gui["user"], gui["user_error"]))
        if gui["gdi"] == "0" and gui["user"] == "0":
            print("  GetGuiResources is not implemented here (error 120 is "
                  "ERROR_CALL_NOT_IMPLEMENTED); GDI and USER objects are counted inside the "
                  "keyboard's process instead (quality_inject.dll)")
        handles = q.helper_one("handles", pid)
        print("GetProcessHandleCount: %s%s" % (handles["n"], " (no measure here either)"
                                                if handles["n"] == "0" else ""))
        selftest = q.helper_one("selftest")
        print("the counting itself, around objects made in the helper: %s"
              % " ".join("%s=%s" % kv for kv in selftest.items() if kv[0] != "name"))
        check(selftest == {"name": "selftest", "gdi": "20", "gdi_deleted": "20", "windows": "5",
                           "menus": "5", "icons": "5"},
              "the object counting does not see objects made and deleted: %r" % selftest)

        points = iter(background_points(run, len(plan), rng))
        jitter = random.Random(seed + 1)

        def actions(click):
            if click == "bg":
                x, y = next(points)
                return ["mousemove", x, y, "mousedown", 1, "sleep", BACKGROUND_HOLD,
                        "mouseup", 1, "sleep", BACKGROUND_AFTER]
            r = run.children[click.id].rect
            # Anywhere on the key but its raised edge.
            x = jitter.randint(r.left + 3, r.right - 4)
            y = jitter.randint(r.top + 3, r.bottom - 4)
            # xdotool's "click" waits 100 ms; a press and a release do not.
            return ["mousemove", x, y, "mousedown", 1, "mouseup", 1, "sleep", CLICK_GAP]

        def send(batch):
            args = []
            for click in batch:
                args += actions(click)
            desktop.xdotool(*args)
            done.extend(batch)
            if not process_alive(run.keyboard_proc):
                raise CaseFailure("the keyboard process ended after %d clicks (exit code %s); "
                                  "the last ones: %s; then %s" % (
                                      len(done), run.keyboard_proc.returncode,
                                      " ".join(c if c == "bg" else click_text(c)
                                               for c in done[-5:]), aftermath(q, run)))

        def catch_up():
            """Waits until the target has every key event of the clicks so far. A
            background press must find the keyboard idle: the system's move loop
            reads the real button state, and a press still queued when the button
            is already up again would start a move that follows the pointer."""
            so_far = [c if c == "bg" else click_text(c) for c in done]
            want = q.predict(so_far)
            run.log.seen = 0
            got, _ = received(run.log, len(want), timeout=20)
            check(len(got) == len(want), "after %d clicks: %s"
                  % (len(done), divergence_report(q, so_far, got, want)))

        done = []
        started = time.monotonic()
        if fixed is None and started - case_started + seconds > SOAK_BUDGET:
            # A slow start-up shortens the clicking, so that the whole case stays
            # within three minutes.
            seconds = max(SOAK_BUDGET - (started - case_started), 30)
            print("start-up took %.0f s: clicking for %.0f s" % (started - case_started, seconds))
        next_sample = None
        position = 0
        while position < len(plan):
            if fixed is None and time.monotonic() - started > seconds:
                break
            if plan[position] == "bg":
                catch_up()
                send(["bg"])
                position += 1
            else:
                end = position
                while end < len(plan) and end - position < BATCH and plan[end] != "bg":
                    end += 1
                send(plan[position:end])
                position = end
            if next_sample is None and len(done) >= WARM_UP:
                catch_up()
                sample_objects(q, pid, "warm-up (%d)" % len(done), samples)
                next_sample = time.monotonic() + seconds / 4
            elif next_sample is not None and time.monotonic() >= next_sample:
                catch_up()
                sample_objects(q, pid, "%d clicks" % len(done), samples)
                next_sample = time.monotonic() + seconds / 4
        clicking = time.monotonic() - started

        predicted = q.predict([c if c == "bg" else click_text(c) for c in done])
        check_no_alt_f4(predicted)
        ending = closing_clicks(keys, predicted)
        args = []
        for click in ending:
            args += actions(click)
        if args:
            desktop.xdotool(*args)
        clicks = [c if c == "bg" else click_text(c) for c in done + ending]
        before_close = q.predict(clicks)
        check(not keys_left_down(before_close) and all(
            sum(1 for v, up in before_close if v == lock and not up) % 2 == 0 for lock in LOCK_VKS),
            "the closing clicks leave keys down or locks toggled: %s" % ending)
        print("%d clicks in %.1f s (%d on the background), then %d to release modifiers and "
              "locks: %d key events expected" % (len(done), clicking, done.count("bg"),
                                                 len(ending), len(before_close)))

        run.log.seen = 0
        received(run.log, len(before_close), timeout=30)
        time.sleep(1.0)
        got = run.log.events()
        sample_objects(q, pid, "the last click", samples)
        check(process_alive(run.keyboard_proc),
              "the keyboard process ended (exit code %s)" % run.keyboard_proc.returncode)
        check(desktop.probe_one("count", KEYBOARD_CLASS)["n"] == "1",
              "the keyboard window is gone before the end")
        foreground = run.foreground_class()

        # Closing adds the core's own account of the close (nothing is left latched).
        desktop.probe("close", KEYBOARD_CLASS)
        try:
            code = run.keyboard_proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise CaseFailure("the keyboard did not exit within 10 s of WM_CLOSE")
        time.sleep(0.5)
        got = run.log.events()
        want = q.predict(clicks + ["close"])
        lost_focus = [n for n, line in enumerate(run.log.lines(), 1) if line == "focus out"]

    pairs, repressed = relatched(got)
    if pairs != want:
        failures.append(divergence_report(q, clicks + ["close"], pairs, want))
    failures += flag_problems(got)[:10]
    left = keys_left_down(got)
    if left:
        failures.append("keys still down at the target after the end: %s" % left)
    if code != 0:
        failures.append("the keyboard exited with code %d after WM_CLOSE" % code)
    if foreground != TARGET_CLASS:
        failures.append("at the end the foreground window is %s, not the target" % foreground)
    if lost_focus:
        failures.append("the target lost the keyboard focus (target.log lines %s)" % lost_focus[:10])
    check(len(samples) >= 2, "the soak ended before its warm-up (%d clicks)" % len(clicks))
    warm, last = samples[0], samples[-1]
    for kind in ("gdi", "user"):
        if last[kind] - warm[kind] > MAX_OBJECT_GROWTH:
            failures.append("%s objects grew from %d after warm-up to %d at the end (%s)"
                            % (kind.upper(), warm[kind], last[kind],
                               ", ".join("%d" % s[kind] for s in samples)))
    if last["rss"] is None or warm["rss"] is None:
        print("the keyboard's resident memory could not be read from /proc")
    elif last["rss"] - warm["rss"] > MAX_RSS_GROWTH:
        failures.append("the keyboard's resident memory grew from %d KiB after warm-up to %d KiB"
                        % (warm["rss"], last["rss"]))
    check(not failures, "\n".join(failures))
    print("%d key events, event for event as the core predicts (and %d presses of a latched "
          "modifier the system had let go); scan code 0, no extended flag; nothing left down; "
          "GDI %d -> %d, USER %d -> %d after warm-up; exit code %d"
          % (len(pairs), repressed, warm["gdi"], last["gdi"], warm["user"], last["user"], code))


# --- ways out -----------------------------------------------------------------------------

# Left Ctrl, right Shift and left Alt, latched before each way out.
LATCH = (("控制", 162), ("换档", 161), ("转换", 164))


def x_frame(env, title):
    """The window manager's frame around the X window of a title: (left, top, right,
    bottom) of the frame and the top of the X window (the title bar lies between)."""
    ids = subprocess.run(["xdotool", "search", "--name", "^%s$" % re.escape(title)], env=env,
                         capture_output=True, text=True, timeout=30).stdout.split()
    check(len(ids) == 1, "%d X windows named %s" % (len(ids), title))
    info = subprocess.run(["xwininfo", "-id", ids[0]], env=env, capture_output=True, text=True,
                          timeout=30).stdout
    field = {k: int(re.search(r"%s:\s+(-?\d+)" % k, info).group(1))
             for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")}
    extents = subprocess.run(["xprop", "-id", ids[0], "_NET_FRAME_EXTENTS"], env=env,
                             capture_output=True, text=True, timeout=30).stdout
    match = re.search(r"=\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", extents)
    check(match is not None, "the window manager does not frame the keyboard: %r" % extents)
    left, right, top, bottom = (int(v) for v in match.groups())
    x, y = field["Absolute upper-left X"], field["Absolute upper-left Y"]
    return (x - left, y - top, x + field["Width"] + right, y + field["Height"] + bottom), y


def out_close_button(q, run):
    """The close button of the title bar. The window manager (openbox) draws the
    frame, so its button sits at the right end of its title bar; clicking it asks
    the window to close (WM_DELETE_WINDOW, which Wine turns into SC_CLOSE)."""
    (left, top, right, bottom), client_top = x_frame(q.env, e2e.KEYBOARD_TITLE)
    title = client_top - top
    x, y = right - 1 - title // 2, (top + client_top) // 2
    q.desktop.xdotool("mousemove", x, y, "click", 1)
    return "clicked the frame's close button at (%d,%d)" % (x, y)


def out_window_menu(q, run):
    """Close on the window menu. The window manager (openbox) draws the frame, so a
    click on the title bar's icon opens openbox's own menu, not the window's. The
    helper posts what that click is on Windows, SC_MOUSEMENU with HTSYSMENU, which
    opens the window menu; Close is clicked on it with the mouse. (Alt+Space cannot
    reach the keyboard, which never has the focus; SC_KEYMENU ' ' opens no menu
    under Wine 8 while a Shift is latched.)"""
    q.helper_one("syscommand", "mousemenu")
    deadline = time.monotonic() + 5
    while True:
        items = q.helper("menu", allow_failure=True)
        if items and "close" in items[0]:
            break
        check(time.monotonic() < deadline, "the window menu did not open: %r" % items)
        time.sleep(0.2)
    x, y = (int(v) for v in items[0]["close"].split(","))
    q.desktop.xdotool("mousemove", x, y, "sleep", 0.2, "click", 1)
    return "opened the window menu at %s, clicked Close at (%d,%d)" % (items[0]["rect"], x, y)


def out_taskkill(q, run):
    """WM_CLOSE from another program: taskkill without /f."""
    pid = run.keyboard_window().pid
    result = subprocess.run(["wine", "taskkill", "/pid", str(pid)], env=q.env,
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, "taskkill /pid %d: exit %d %s%s"
          % (pid, result.returncode, result.stdout, result.stderr))
    return "taskkill /pid %d: %s" % (pid, result.stdout.strip())


def out_end_session(q, run):
    """The end of the Windows session, as the system tells each top-level window:
    WM_QUERYENDSESSION, then WM_ENDSESSION(TRUE). Windows would then end the
    process; here the keyboard goes on running, and a WM_CLOSE afterwards must
    release nothing a second time."""
    item = q.helper_one("endsession")
    check(item["query"] == "1", "the keyboard answered WM_QUERYENDSESSION with %s, not TRUE"
          % item["query"])
    return "WM_QUERYENDSESSION answered %s, WM_ENDSESSION(TRUE) sent" % item["query"]


WAYS_OUT = (("the close button", out_close_button),
            ("Close on the window menu", out_window_menu),
            ("WM_CLOSE from taskkill", out_taskkill),
            ("the end of the session", out_end_session))


def case_ways_out(q):
    """Every way out releases the latched modifiers, exactly, and ends the keyboard."""
    desktop = q.desktop
    latch = [click_text_of(c, i) for c, i in LATCH]
    latched = q.predict(latch)
    releases = q.predict(latch + ["close"])[len(latched):]
    check(sorted(releases) == sorted((vk, 1) for _, vk in LATCH),
          "the core releases %s on closing, not the latched %s" % (
              event_text(releases), [vk for _, vk in LATCH]))
    failures = []
    for name, way in WAYS_OUT:
        slug = re.sub(r"\W+", "_", name).strip("_")
        with Run(desktop, "ways_out_" + slug) as run:
            for control, index in LATCH:
                run.click(run.key(control, index))
            got = [(vk, up) for vk, up, *_ in run.log.wait_events(len(latched))]
            check(got == latched, "%s: latching %s sent %s, expected %s" % (
                name, latch, event_text(got), event_text(latched)))
            run.log.mark()
            how = way(q, run)
            if way is out_end_session:
                run.log.wait_events(len(releases))
                time.sleep(1.0)
                at_end = [(vk, up) for vk, up, *_ in run.log.events()]
                if at_end != releases:
                    failures.append("%s: at WM_ENDSESSION the target received %s, expected %s"
                                    % (name, event_text(at_end), event_text(releases)))
                check(process_alive(run.keyboard_proc),
                      "%s: the keyboard ended during WM_ENDSESSION" % name)
                desktop.probe("close", KEYBOARD_CLASS)
                how += "; then WM_CLOSE"
            try:
                code = run.keyboard_proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                failures.append("%s (%s): the keyboard still runs 10 s later" % (name, how))
                continue
            time.sleep(0.5)
            events = run.log.events()
            got = [(vk, up) for vk, up, *_ in events]
            problems = flag_problems(events)
            if got != releases or problems:
                failures.append("%s (%s): the target received %s, expected exactly %s %s"
                                % (name, how, event_text(got), event_text(releases),
                                   "; ".join(problems)))
            elif code != 0:
                failures.append("%s (%s): the keyboard exited with code %d" % (name, how, code))
            else:
                print("%s: %s; received %s; exit code %d" % (name, how, event_text(got), code))
    check(not failures, "\n".join(failures))


# --- eight copies at once --------------------------------------------------------------

COPIES = 8


def case_eight_copies(q):
    """Eight copies started together: one keyboard window, seven copies end with code 0."""
    desktop = q.desktop
    check(desktop.probe_one("count", KEYBOARD_CLASS)["n"] == "0",
          "a keyboard window is left over from an earlier run")
    out = os.path.join(desktop.out_dir, "eight_copies")
    os.makedirs(out, exist_ok=True)
    procs = []
    try:
        for n in range(COPIES):
            procs.append(desktop.start(desktop.keyboard_exe, [],
                                       os.path.join(out, "copy%d.out" % n)))
        deadline = time.monotonic() + 30
        while sum(p.poll() is not None for p in procs) < COPIES - 1:
            if time.monotonic() > deadline:
                break
            time.sleep(0.2)
        time.sleep(3)  # a late copy would show its window by now
        window = desktop.probe_one("wait", KEYBOARD_CLASS, 10000)
        count = desktop.probe_one("count", KEYBOARD_CLASS)
        ended = [p.returncode for p in procs if p.poll() is not None]
        running = [p for p in procs if p.poll() is None]
        check(count["n"] == "1" and count["visible"] == "1",
              "%s ScreenKeyboard windows (%s visible) after %d simultaneous starts"
              % (count["n"], count["visible"], COPIES))
        check("none" not in window, "no keyboard window")
        check(len(running) == 1 and len(ended) == COPIES - 1,
              "%d copies still run, %d ended (exit codes %s)" % (len(running), len(ended), ended))
        check(all(code == 0 for code in ended), "exit codes of the ended copies: %s" % ended)
        desktop.probe("close", KEYBOARD_CLASS)
        code = running[0].wait(timeout=10)
        check(code == 0, "the remaining keyboard exited with code %d after WM_CLOSE" % code)
    finally:
        for p in procs:
            if p.poll() is None:
                desktop.probe("close", KEYBOARD_CLASS)
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait(timeout=5)
    print("%d copies started together: one window, %d copies exited with code 0, the running "
          "one exited with code 0 after WM_CLOSE" % (COPIES, COPIES - 1))


# --- high DPI ---------------------------------------------------------------------------

DPIS = (96, 120, 144)
DPI_KEY = r"HKCU\Control Panel\Desktop"
POINT_SIZE = 9


def px(twips, dpi):
    """Twips to whole pixels, rounding half up."""
    return int(twips * dpi / 1440 + 0.5)


def mul_div(a, b, c):
    """MulDiv: a * b / c rounded half away from zero."""
    n = a * b
    return (abs(n) + c // 2) // c * (1 if n >= 0 else -1)


class LogPixels:
    r"""Wine 8 takes the system DPI from HKCU\Control Panel\Desktop LogPixels (then
    from HKCC\Software\Fonts); every process reads it when it starts, so a fresh
    keyboard sees a new value without restarting the Wine server. The value found
    is put back, or removed if there was none, whatever happens."""

    def __init__(self, q):
        self.q = q
        result = self._reg("query", DPI_KEY, "/v", "LogPixels", check_ok=False)
        match = re.search(r"LogPixels\s+REG_DWORD\s+0x([0-9a-fA-F]+)", result.stdout)
        self.original = int(match.group(1), 16) if match else None

    def _reg(self, *args, check_ok=True):
        result = subprocess.run(["wine", "reg"] + list(args), env=self.q.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=60)
        if check_ok:
            check(result.returncode == 0, "wine reg %s: %s%s" % (" ".join(args), result.stdout,
                                                                  result.stderr))
        return result

    def set(self, dpi):
        self._reg("add", DPI_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
        screen = self.q.desktop.probe_one("screen")
        check(screen["dpiy"] == str(dpi), "LogPixels %d gives a screen of %s dpi" % (dpi, screen["dpiy"]))

    def restore(self):
        if self.original is None:
            self._reg("delete", DPI_KEY, "/v", "LogPixels", "/f")
        else:
            self._reg("add", DPI_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                      str(self.original), "/f")


def settled_keyboard(desktop):
    """The keyboard window once it stops moving: start-up, or a new layout, ends
    with a paint that puts it at the bottom centre."""
    deadline = time.monotonic() + 5
    last = None
    while True:
        window = Window(desktop.probe_one("keyboard"))
        state = (window.rect.left, window.rect.top, window.rect.right, window.rect.bottom,
                 window.client.width, window.client.height)
        if state == last or time.monotonic() > deadline:
            return window
        last = state
        time.sleep(0.3)


class KeyboardOnly:
    """A keyboard alone, without a target: started fresh and ended at the end."""

    def __init__(self, q, name):
        self.q = q
        self.log = os.path.join(q.desktop.out_dir, name + ".out")
        self.proc = None

    def __enter__(self):
        d = self.q.desktop
        check(d.probe_one("count", KEYBOARD_CLASS)["n"] == "0",
              "a keyboard window is left over from an earlier run")
        d.xdotool("mousemove", 1200, 300)
        self.proc = d.start(d.keyboard_exe, [], self.log)
        Window(d.probe_one("wait", KEYBOARD_CLASS, 20000))
        settled_keyboard(d)
        return self

    def __exit__(self, exc_type, exc, tb):
        d = self.q.desktop
        if self.proc.poll() is None:
            d.probe("close", KEYBOARD_CLASS)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=5)
                if exc_type is None:
                    raise CaseFailure("the keyboard did not exit within 5 s of WM_CLOSE")
        return False


def layout_problems(q, keys, dpi, when, moved=False):
    """The client size at DPI, every key at its place in it, touching neighbours
    touching, nothing overlapping, the right and bottom edges reached, and the
    keys' font 9 point. Returns the list of problems and the window.

    moved: the window was told of a new DPI by WM_DPICHANGED while it stays on
    the one screen Wine has. Wine 8 draws every frame at the system DPI, so the
    window, rightly sized for a frame at the new DPI, has a client area that
    differs by the two frames' difference. Then the outer size is checked
    against a designed client area in a frame at the new DPI, which is what the
    client area would be on a real screen of that DPI."""
    window = Window(q.desktop.probe_one("keyboard"))
    client = window.client
    width_tw, height_tw = client_twips()
    problems = []
    want = (px(width_tw, dpi), px(height_tw, dpi))
    if moved:
        frame = q.helper_one("frame", dpi, *want)
        outer = (int(frame["width"]), int(frame["height"]))
        if (window.rect.width, window.rect.height) != outer:
            problems.append("%s: the window is %dx%d; a %dx%d client area in a frame at %d dpi "
                            "makes %dx%d" % (when, window.rect.width, window.rect.height,
                                             want[0], want[1], dpi, outer[0], outer[1]))
        reach = want
    else:
        if (client.width, client.height) != want:
            problems.append("%s: client area %dx%d, expected %dx%d"
                            % (when, client.width, client.height, want[0], want[1]))
        reach = (client.width, client.height)
    children = {c.id: c for c in (Child(i) for i in q.desktop.probe("children")
                                  if i["name"] == "child")}
    rects = {}
    for key in keys:
        child = children.get(key.id)
        if child is None:
            problems.append("%s: no key %r (id 0x%04x)" % (when, key, key.id))
            continue
        r = child.rect
        rects[key.id] = (r.left - client.left, r.top - client.top,
                         r.right - client.left, r.bottom - client.top)
    for key in keys:
        if key.id not in rects:
            continue
        edges = rects[key.id]
        exact = tuple(t * dpi / 1440 for t in (key.left, key.top, key.right, key.bottom))
        if any(abs(e - x) > 0.5 + 1e-9 for e, x in zip(edges, exact)):
            problems.append("%s: key %r at %r, its place is %s" % (
                when, key, edges, tuple("%.1f" % x for x in exact)))
    for a in keys:
        for b in keys:
            if a is b or a.id not in rects or b.id not in rects:
                continue
            ra, rb = rects[a.id], rects[b.id]
            rows_meet = a.top < b.bottom and b.top < a.bottom
            columns_meet = a.left < b.right and b.left < a.right
            if a.right == b.left and rows_meet and ra[2] != rb[0]:
                problems.append("%s: %r ends at x=%d, its right neighbour %r starts at x=%d"
                                % (when, a, ra[2], b, rb[0]))
            if a.bottom == b.top and columns_meet and ra[3] != rb[1]:
                problems.append("%s: %r ends at y=%d, %r below starts at y=%d"
                                % (when, a, ra[3], b, rb[1]))
            if a.id < b.id and ra[0] < rb[2] and rb[0] < ra[2] and ra[1] < rb[3] and rb[1] < ra[3]:
                problems.append("%s: %r %r and %r %r overlap" % (when, a, ra, b, rb))
    right = max(r[2] for r in rects.values()) if rects else None
    bottom = max(r[3] for r in rects.values()) if rects else None
    if (right, bottom) != reach:
        problems.append("%s: the keys reach x=%s, y=%s; the client area is %dx%d"
                        % (when, right, bottom, reach[0], reach[1]))
    want_height = -mul_div(POINT_SIZE, dpi, 72)
    for control, index in (("SKB", ord("A")), ("SKB", 32), ("数字锁", 0), ("小键盘", 103)):
        font = q.helper_one("font", control_id(control, index))
        if int(font["height"]) != want_height:
            problems.append("%s: the font of %s(%d) has lfHeight %s, expected %d (%d point at "
                            "%d dpi)" % (when, control, index, font["height"], want_height,
                                         POINT_SIZE, dpi))
    return problems, window


EDGE = 2  # pixels of a key's raised edge


def caption_edge_problems(shot, children, keys, when):
    """Each key's caption inside its face: the pixels of the raised edge are the edge's own
    (each edge line one colour from end to end, but for the corners), and the ink on the
    face, the pixels of another colour than the face's, lies inside it with room to spare."""
    problems = []
    for key in keys:
        r = children[key.id].rect
        w, h = r.width, r.height
        rows = [shot.region(e2e.Rect("%d,%d,%d,%d" % (r.left, y, r.right, y + 1)))
                for y in range(r.top, r.bottom)]
        px = lambda x, y: rows[y][3 * x:3 * x + 3]  # noqa: E731
        lines = ([[px(x, y) for x in range(EDGE, w - EDGE)] for y in (0, 1, h - 2, h - 1)]
                 + [[px(x, y) for y in range(EDGE, h - EDGE)] for x in (0, 1, w - 2, w - 1)])
        if any(len(set(line)) > 1 for line in lines):
            problems.append("%s: %r has caption ink on its edge at %r" % (when, key, r))
            continue
        face = [(x, y) for y in range(EDGE, h - EDGE) for x in range(EDGE, w - EDGE)]
        colours = {}
        for x, y in face:
            colours[px(x, y)] = colours.get(px(x, y), 0) + 1
        background = max(colours, key=colours.get)
        ink = [(x, y) for x, y in face if px(x, y) != background]
        if not ink:
            problems.append("%s: %r shows no caption" % (when, key))
            continue
        xs, ys = [x for x, _ in ink], [y for _, y in ink]
        if min(xs) <= EDGE or min(ys) <= EDGE or max(xs) >= w - EDGE - 1 or max(ys) >= h - EDGE - 1:
            problems.append("%s: %r has caption ink touching its face's border: x %d..%d, y %d..%d "
                            "in %dx%d" % (when, key, min(xs), max(xs), min(ys), max(ys), w, h))
    return problems


def case_high_dpi(q):
    """At 96, 120 and 144 dpi the client area and the keys scale from twips, the keys
    tile without gaps or overlaps, the captions are 9 point and stay inside each key's
    face; WM_DPICHANGED lays
    the window out again at the new DPI."""
    desktop = q.desktop
    keys = read_key_table()
    failures = []
    dpi_setting = LogPixels(q)
    print("LogPixels in %s before the case: %s" % (DPI_KEY, dpi_setting.original))
    try:
        for dpi in DPIS:
            dpi_setting.set(dpi)
            with KeyboardOnly(q, "high_dpi_%d" % dpi):
                problems, window = layout_problems(q, keys, dpi, "at %d dpi" % dpi)
                children = {c.id: c for c in (Child(i) for i in desktop.probe("children")
                                              if i["name"] == "child")}
                inked = caption_edge_problems(e2e.Screenshot(desktop.env), children, keys,
                                              "at %d dpi" % dpi)
                print("%d dpi: %d of %d keys with a caption crossing into the edge" % (
                    dpi, len(inked), len(keys)))
                problems += inked
                failures += problems
                path = os.path.join(desktop.out_dir, "keyboard_%ddpi.png" % dpi)
                r = window.rect
                subprocess.run(["import", "-window", "root", "-crop",
                                "%dx%d+%d+%d" % (r.width, r.height, r.left, r.top), "+repage",
                                "-filter", "point", "-resize", "300%", path],
                               env=desktop.env, check=True, timeout=30)
                print("screenshot at %d dpi, enlarged three times: %s" % (dpi, path))
                print("%d dpi: client %dx%d, %d keys placed, %s" % (
                    dpi, window.client.width, window.client.height, len(keys),
                    "%d problem(s)" % len(problems) if problems else "all tiled, 9 point"))
                if dpi == 96:
                    # The window moved to a monitor of another DPI: the suggested rect
                    # is handed over in the keyboard's own memory.
                    for new_dpi in (144, 96):
                        item = q.helper_one("dpichanged", new_dpi)
                        check(item["result"] == "0", "WM_DPICHANGED returned %s" % item["result"])
                        settled_keyboard(desktop)
                        problems, window = layout_problems(
                            q, keys, new_dpi, "after WM_DPICHANGED to %d dpi" % new_dpi,
                            moved=True)
                        failures += problems
                        print("WM_DPICHANGED to %d dpi: window %dx%d (client %dx%d in Wine's "
                              "%d-dpi frame), %s" % (
                                  new_dpi, window.rect.width, window.rect.height,
                                  window.client.width, window.client.height, dpi,
                                  "%d problem(s)" % len(problems) if problems else
                                  "keys at their places for %d dpi, tiled, 9 point" % new_dpi))
    finally:
        dpi_setting.restore()
        screen = desktop.probe_one("screen")
        print("LogPixels restored; the screen is at %s dpi again" % screen["dpiy"])
    check(not failures, "\n".join(failures[:40]))


CASES = {
    "soak": case_soak,
    "ways_out": case_ways_out,
    "eight_copies": case_eight_copies,
    "high_dpi": case_high_dpi,
}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--state", default=os.environ.get("VIMBREL_E2E_STATE"))
    parser.add_argument("--win32-dir")
    parser.add_argument("--out-dir", default=os.getcwd())
    parser.add_argument("--predict", help="the native soak_predict tool")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args(argv[1:])
    if args.list:
        print("\n".join(CASES))
        return 0
    names = list(CASES) if args.cases == ["all"] else args.cases
    unknown = [n for n in names if n not in CASES]
    if not names or unknown or not args.state or not args.win32_dir or not args.predict:
        parser.error("need --state, --win32-dir, --predict and known cases (unknown: %s)" % unknown)
    os.makedirs(args.out_dir, exist_ok=True)
    failed = []
    try:
        check(os.path.exists(os.path.join(args.win32_dir, "vimbrel.exe")),
              "%s/vimbrel.exe does not exist: build the win32 preset first" % args.win32_dir)
        check(os.path.exists(args.predict), "%s does not exist: build the native preset" % args.predict)
        q = Quality(args.state, args.win32_dir, args.out_dir, args.predict)
    except CaseFailure as failure:
        print("FAIL: %s" % failure)
        return 1
    for name in names:
        started = time.monotonic()
        try:
            CASES[name](q)
            print("PASS %s (%.1f s)" % (name, time.monotonic() - started))
        except CaseFailure as failure:
            failed.append(name)
            print("FAIL %s (%.1f s):\n%s" % (name, time.monotonic() - started, failure))
        sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
