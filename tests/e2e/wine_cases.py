"""The end-to-end cases of the Windows build: the real vimbrel.exe under Wine,
clicked with xdotool on the session's virtual display, typing into target.exe,
whose low-level keyboard hook logs exactly what the system received; probe.exe
reads the keyboard's windows and looks inside its process. Each case is a
function of the Desktop, listed in the runner's table (e2e.py).
"""

import os
import random
import re
import subprocess
import sys
import time

from harness import (EDITION_TEXT, HIGHLIGHT, KEY_WAIT, KEYBOARD_CLASS, KEYBOARD_TITLE, LIGHT_IDS,
                     PAINT_WAIT, RELEASED_BLUE, TARGET_CLASS, WHITE, WS_EX_NOACTIVATE,
                     WS_EX_TOPMOST, CaseFailure, Child, Rect, Run, Window, check, client_twips,
                     control_id, event_problems, events_text, face_points, flag_problems, from_hex,
                     hex_text, icon_pointer_problem, key_name, keys_left_down, parse_line, read_icon,
                     read_key_table, read_pointer,
                     cpu_ticks, rss_kib, settled_events, settled_keyboard, stroke_problems, unix_process,
                     wait_probe)


# --- keys, focus and placement ---------------------------------------------------

# The 80 ordinary keys: each element index is the virtual-key code it sends.
SKB_CODES = ([8, 9, 13, 19, 27, 32] + list(range(33, 41)) + [44, 45, 46] + list(range(48, 58))
             + list(range(65, 91)) + [106, 107, 109, 111] + list(range(112, 124))
             + list(range(186, 193)) + list(range(219, 223)))
assert len(SKB_CODES) == 80 and len(set(SKB_CODES)) == 80


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
        code = run.second_copy(timeout=5)
        count = desktop.keyboard_count()
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
        path = desktop.save_screenshot(os.path.join(desktop.out_dir, "keyboard.png"), window.rect)
        full = desktop.save_screenshot(os.path.join(desktop.out_dir, "desktop.png"))
        check(os.path.getsize(path) > 0, "empty screenshot %s" % path)
    print("screenshot of the keyboard: %s" % path)
    print("screenshot of the whole desktop: %s" % full)


# --- latched and lock keys --------------------------------------------------------

def latched_stroke(run, modifier, key, char):
    """Latches the modifier (it lights), clicks the key, clicks the modifier again (it
    shows released blue): the target gets the modifier's press, the key's stroke and
    the modifier's release, and types `char`."""
    (control, mvk), kvk = modifier, key
    latch, clicked = run.key(*modifier), run.key("SKB", key)
    what = "%s(%d), %s, %s(%d)" % (control, mvk, key_name(kvk), control, mvk)
    run.enter_keyboard()
    run.click(latch)
    run.log.wait_events(1)
    seen = run.wait_colour(face_points(latch), HIGHLIGHT)
    check(all(s == HIGHLIGHT for s in seen), "latched %s(%d) shows %s, expected highlight" % (control, mvk, seen))
    run.click(clicked)
    run.log.wait_events(3)
    run.click(latch)
    problems = event_problems(settled_events(run.log, 4), [(mvk, 0), (kvk, 0), (kvk, 1), (mvk, 1)])
    check(not problems, "%s: %s" % (what, "; ".join(problems)))
    typed = run.log.wait_typed(char)
    check(typed == char, "%s: the target received the characters %r, expected %r" % (what, typed, char))
    seen = run.wait_colour(face_points(latch), RELEASED_BLUE)
    check(all(s == RELEASED_BLUE for s in seen), "released %s(%d) shows %s, expected released blue"
          % (control, mvk, seen))


def case_ctrl_c(desktop):
    """Latched left Ctrl, then C, then Ctrl again: the target gets Ctrl+C."""
    with Run(desktop, "ctrl_c") as run:
        latched_stroke(run, ("控制", 162), ord("C"), "\x03")
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


def case_held_ring(desktop):
    """A key held on the physical keyboard (an X key, which reaches Wine with its scan
    code) shows a red ring inside its edge until it is let go; keypad Enter rings 小回车;
    the keyboard's own click rings nothing."""
    red = (255, 0, 0)
    with Run(desktop, "held_ring") as run:
        a, enter = run.key("SKB", ord("A")), run.key("小回车")

        def ringed(key):
            return desktop.screenshot().count(key.rect, red) >= 2 * (key.rect.width + key.rect.height)

        def wait_rings(want, what):
            deadline = time.monotonic() + KEY_WAIT
            while (ringed(a), ringed(enter)) != want:
                check(time.monotonic() < deadline, "%s: rings on A and 小回车 are %r" % (what, (ringed(a), ringed(enter))))
                time.sleep(0.1)

        desktop.xdotool("keydown", "a", "keydown", "KP_Enter")
        wait_rings((True, True), "A and keypad Enter held")
        desktop.xdotool("keyup", "a", "keyup", "KP_Enter")
        wait_rings((False, False), "both let go")
        run.click(a)
        run.log.wait_events(2)
        check(not ringed(a), "a click on A left a ring")
    print("held A and keypad Enter rang; let go, no ring; a click rang nothing")


def case_shift_1(desktop):
    """Latched left Shift, then 1 types "!"; once Shift is released, 1 types "1"."""
    with Run(desktop, "shift_1") as run:
        latched_stroke(run, ("换档", 160), ord("1"), "!")
        run.log.mark()
        run.click(run.key("SKB", ord("1")))
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


def case_space_at_start(desktop):
    """Started with nothing else in front, the keyboard is the foreground window: one click
    on Space sends one Space, which the focused key must not take as a click of its own."""
    with Run(desktop, "space_at_start", target="hidden") as run:
        deadline = time.monotonic() + 10
        while run.foreground_class() != KEYBOARD_CLASS:
            check(time.monotonic() < deadline, "the keyboard did not come to the front at start")
            time.sleep(0.2)
        time.sleep(1.0)  # start-up's paints are over
        run.log.mark()
        desktop.xdotool("mousemove", *run.key("SKB", 32).rect.centre, "click", 1)
        run.log.wait_events(2)
        desktop.xdotool("mousemove", 1200, 300)
        time.sleep(1.0)
        process = unix_process(desktop.env["WINEPREFIX"], "vimbrel.exe")
        check(process is not None, "no process of vimbrel.exe in our prefix")
        ticks = cpu_ticks(process)
        time.sleep(2.0)
        later = cpu_ticks(process)
        events = run.log.events()
        check(len(events) == 2 and not stroke_problems(events, [32]),
              "one click on Space with the keyboard in front sent %d key events: %s%s"
              % (len(events), events_text(events[:8]), " ..." if len(events) > 8 else ""))
        check(later - ticks <= 10, "the keyboard used %d clock ticks of CPU in the 2 s after the click"
              % (later - ticks))
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
        code = run.second_copy(timeout=10)
        check(code == 0, "the second copy exited with code %d" % code)
        deadline = time.monotonic() + 5
        while run.keyboard_window().style & WS_MINIMIZE and time.monotonic() < deadline:
            time.sleep(0.1)
        window = settled_keyboard(desktop)
        check(not window.style & WS_MINIMIZE, "the keyboard is still minimised after the second start")
        count = desktop.keyboard_count()
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


# --- captions and lights ----------------------------------------------------------

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


def caption_problems(run, want, timeout=PAINT_WAIT):
    """Polls the keys' window texts until they equal `want`; returns the differences left."""
    deadline = time.monotonic() + timeout
    while True:
        texts = {cid: from_hex(child.text) for cid, child in run.desktop.children().items()}
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


def case_smoke(desktop):
    """The other Windows build in a session of its own: it starts, types one key into
    the target and ends when closed."""
    with Run(desktop, "smoke") as run:
        run.click(run.key("SKB", ord("A")))
        problems = stroke_problems(settled_events(run.log, 2), [ord("A")])
        check(not problems, "key A: " + "; ".join(problems))
        desktop.probe("close", KEYBOARD_CLASS)
        try:
            run.keyboard_proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            raise CaseFailure("the keyboard still runs 5 s after WM_CLOSE")
    print("%s: started, typed A, closed" % desktop.build_dir)


# --- the pop-up menu --------------------------------------------------------------

MENU_ITEMS = ("关于软件", "版本信息", "编程语言", "最新版本")
EDITION_TITLE = "版本信息"
MENU_CLASS = "#32768"
DIALOG_CLASS = "#32770"


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


# --- finger pointers and tooltips -------------------------------------------------

ASSETS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "assets")
FINGER_ICONS = ("left_little", "left_ring", "left_middle", "left_index", "left_thumb", "both_thumbs",
                "right_thumb", "right_index", "right_middle", "right_ring", "right_little")

BLACK, RED = (0, 0, 0), (255, 0, 0)


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


# --- soak -------------------------------------------------------------------------

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


def click_text(key):
    """A click as soak_predict reads it: the key's control id in hex."""
    return "0x%04x" % key.id


def click_text_of(control, index=0):
    return "0x%04x" % control_id(control, index)


def background_points(run, count, rng):
    """Points of the client area that no child covers, with room around them."""
    points = list(run.free_points(4, step=3))
    check(points, "no background point free of keys in the client area %r" % run.keyboard.client)
    return [rng.choice(points) for _ in range(count)]


def aftermath(desktop, run):
    """What is left of the session when the keyboard ended early."""
    server = desktop.session.state.get("pids", {}).get("wineserver")
    try:
        count = desktop.keyboard_count()["n"]
        foreground = run.foreground_class()
    except (CaseFailure, subprocess.SubprocessError) as failure:
        count = foreground = "unknown (%s)" % failure
    return ("%s keyboard window(s), foreground %s, target %s, the session's wineserver %s"
            % (count, foreground, "running" if process_alive(run.target_proc) else "ended",
               "running" if server and os.path.exists("/proc/%d" % server) else "gone"))


def process_alive(proc):
    return proc is not None and proc.poll() is None


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


def divergence_report(desktop, clicks, got, want):
    """Where the received events first part from the predicted ones, and after which click."""
    n = first_divergence(got, want)
    at = click_of_event(desktop, clicks, n) if n < len(want) else len(clicks)
    return ("the target received %d key events, the core predicts %d; first difference at event "
            "%d, from click %d of %d (clicks from %d: %s):\n  received  ...%s\n  predicted ...%s"
            % (len(got), len(want), n, at, len(clicks), max(0, at - 5),
               " ".join(clicks[max(0, at - 5):at + 3]),
               events_text(got[max(0, n - 6):n + 6]), events_text(want[max(0, n - 6):n + 6])))


def click_of_event(desktop, clicks, n):
    """The click whose key events include predicted event n (smallest prefix that reaches it)."""
    low, high = 0, len(clicks)
    while low < high:
        mid = (low + high) // 2
        if len(desktop.predict(clicks[:mid + 1])) > n:
            high = mid
        else:
            low = mid + 1
    return low


def sample_objects(desktop, pid, when, samples):
    time.sleep(0.5)  # let the last click's repaint finish
    item = desktop.probe_ok("objects", pid)
    process = unix_process(desktop.env["WINEPREFIX"], "vimbrel.exe")
    rss = rss_kib(process) if process else None
    sample = {"when": when, "gdi": int(item["gdi"]), "user": int(item["user"]),
              "windows": int(item["windows"]), "menus": int(item["menus"]),
              "icons": int(item["icons"]), "rss": rss}
    samples.append(sample)
    print("  objects after %-18s gdi=%d user=%d (windows %d, menus %d, icons %d) rss=%s KiB"
          % (when, sample["gdi"], sample["user"], sample["windows"], sample["menus"],
             sample["icons"], rss))
    sys.stdout.flush()


def case_soak(desktop):
    """Thousands of random clicks: the target receives exactly the core's key events,
    the keyboard keeps running without growing its GUI objects, no key stays down."""
    case_started = time.monotonic()
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
        gui = desktop.probe_ok("gui", pid)
        print("GetGuiResources: gdi=%s (error %s), user=%s (error %s)"
              % (gui["gdi"], gui["gdi_error"], gui["user"], gui["user_error"]))
        if gui["gdi"] == "0" and gui["user"] == "0":
            print("  GetGuiResources is not implemented here (error 120 is "
                  "ERROR_CALL_NOT_IMPLEMENTED); GDI and USER objects are counted inside the "
                  "keyboard's process instead (inject.dll)")
        handles = desktop.probe_ok("handles", pid)
        print("GetProcessHandleCount: %s%s" % (handles["n"], " (no measure here either)"
                                                if handles["n"] == "0" else ""))
        selftest = desktop.probe_ok("selftest")
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
                                               for c in done[-5:]), aftermath(desktop, run)))

        def catch_up():
            """Waits until the target has every key event of the clicks so far. A
            background press must find the keyboard idle: the system's move loop
            reads the real button state, and a press still queued when the button
            is already up again would start a move that follows the pointer."""
            so_far = [c if c == "bg" else click_text(c) for c in done]
            want = desktop.predict(so_far)
            run.log.seen = 0
            got, _ = received(run.log, len(want), timeout=20)
            check(len(got) == len(want), "after %d clicks: %s"
                  % (len(done), divergence_report(desktop, so_far, got, want)))

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
                sample_objects(desktop, pid, "warm-up (%d)" % len(done), samples)
                next_sample = time.monotonic() + seconds / 4
            elif next_sample is not None and time.monotonic() >= next_sample:
                catch_up()
                sample_objects(desktop, pid, "%d clicks" % len(done), samples)
                next_sample = time.monotonic() + seconds / 4
        clicking = time.monotonic() - started

        predicted = desktop.predict([c if c == "bg" else click_text(c) for c in done])
        check_no_alt_f4(predicted)
        ending = closing_clicks(keys, predicted)
        args = []
        for click in ending:
            args += actions(click)
        if args:
            desktop.xdotool(*args)
        clicks = [c if c == "bg" else click_text(c) for c in done + ending]
        before_close = desktop.predict(clicks)
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
        sample_objects(desktop, pid, "the last click", samples)
        check(process_alive(run.keyboard_proc),
              "the keyboard process ended (exit code %s)" % run.keyboard_proc.returncode)
        check(desktop.keyboard_count()["n"] == "1",
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
        want = desktop.predict(clicks + ["close"])
        lost_focus = [n for n, line in enumerate(run.log.lines(), 1) if line == "focus out"]

    pairs, repressed = relatched(got)
    if pairs != want:
        failures.append(divergence_report(desktop, clicks + ["close"], pairs, want))
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


# --- ways out ---------------------------------------------------------------------

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


def out_close_button(desktop, run):
    """The close button of the title bar. The window manager (openbox) draws the
    frame, so its button sits at the right end of its title bar; clicking it asks
    the window to close (WM_DELETE_WINDOW, which Wine turns into SC_CLOSE)."""
    (left, top, right, bottom), client_top = x_frame(desktop.env, KEYBOARD_TITLE)
    title = client_top - top
    x, y = right - 1 - title // 2, (top + client_top) // 2
    desktop.xdotool("mousemove", x, y, "click", 1)
    return "clicked the frame's close button at (%d,%d)" % (x, y)


def out_window_menu(desktop, run):
    """Close on the window menu. The window manager (openbox) draws the frame, so a
    click on the title bar's icon opens openbox's own menu, not the window's. The
    helper posts what that click is on Windows, SC_MOUSEMENU with HTSYSMENU, which
    opens the window menu; Close is clicked on it with the mouse. (Alt+Space cannot
    reach the keyboard, which never has the focus; SC_KEYMENU ' ' opens no menu
    under Wine 8 while a Shift is latched.)"""
    desktop.probe_ok("syscommand", "mousemenu")
    deadline = time.monotonic() + 5
    while True:
        items = desktop.probe("sysmenu")
        if items and "close" in items[0]:
            break
        check(time.monotonic() < deadline, "the window menu did not open: %r" % items)
        time.sleep(0.2)
    x, y = (int(v) for v in items[0]["close"].split(","))
    desktop.xdotool("mousemove", x, y, "sleep", 0.2, "click", 1)
    return "opened the window menu at %s, clicked Close at (%d,%d)" % (items[0]["rect"], x, y)


def out_taskkill(desktop, run):
    """WM_CLOSE from another program: taskkill without /f."""
    pid = run.keyboard_window().pid
    result = subprocess.run(["wine", "taskkill", "/pid", str(pid)], env=desktop.env,
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, "taskkill /pid %d: exit %d %s%s"
          % (pid, result.returncode, result.stdout, result.stderr))
    return "taskkill /pid %d: %s" % (pid, result.stdout.strip())


def out_end_session(desktop, run):
    """The end of the Windows session, as the system tells each top-level window:
    WM_QUERYENDSESSION, then WM_ENDSESSION(TRUE). Windows would then end the
    process; here the keyboard goes on running, and a WM_CLOSE afterwards must
    release nothing a second time."""
    item = desktop.probe_ok("endsession")
    check(item["query"] == "1", "the keyboard answered WM_QUERYENDSESSION with %s, not TRUE"
          % item["query"])
    return "WM_QUERYENDSESSION answered %s, WM_ENDSESSION(TRUE) sent" % item["query"]


WAYS_OUT = (("the close button", out_close_button),
            ("Close on the window menu", out_window_menu),
            ("WM_CLOSE from taskkill", out_taskkill),
            ("the end of the session", out_end_session))


def case_ways_out(desktop):
    """Every way out releases the latched modifiers, exactly, and ends the keyboard."""
    latch = [click_text_of(c, i) for c, i in LATCH]
    latched = desktop.predict(latch)
    releases = desktop.predict(latch + ["close"])[len(latched):]
    check(sorted(releases) == sorted((vk, 1) for _, vk in LATCH),
          "the core releases %s on closing, not the latched %s" % (
              events_text(releases), [vk for _, vk in LATCH]))
    failures = []
    for name, way in WAYS_OUT:
        slug = re.sub(r"\W+", "_", name).strip("_")
        with Run(desktop, "ways_out_" + slug) as run:
            for control, index in LATCH:
                run.click(run.key(control, index))
            got = [(vk, up) for vk, up, *_ in run.log.wait_events(len(latched))]
            check(got == latched, "%s: latching %s sent %s, expected %s" % (
                name, latch, events_text(got), events_text(latched)))
            run.log.mark()
            how = way(desktop, run)
            if way is out_end_session:
                run.log.wait_events(len(releases))
                time.sleep(1.0)
                at_end = [(vk, up) for vk, up, *_ in run.log.events()]
                if at_end != releases:
                    failures.append("%s: at WM_ENDSESSION the target received %s, expected %s"
                                    % (name, events_text(at_end), events_text(releases)))
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
                                % (name, how, events_text(got), events_text(releases),
                                   "; ".join(problems)))
            elif code != 0:
                failures.append("%s (%s): the keyboard exited with code %d" % (name, how, code))
            else:
                print("%s: %s; received %s; exit code %d" % (name, how, events_text(got), code))
    check(not failures, "\n".join(failures))


# --- eight copies at once ---------------------------------------------------------

COPIES = 8


def case_eight_copies(desktop):
    """Eight copies started together: one keyboard window, seven copies end with code 0."""
    check(desktop.keyboard_count()["n"] == "0",
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
        count = desktop.keyboard_count()
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


# --- high DPI ---------------------------------------------------------------------

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

    def __init__(self, desktop):
        self.desktop = desktop
        result = self._reg("query", DPI_KEY, "/v", "LogPixels", check_ok=False)
        match = re.search(r"LogPixels\s+REG_DWORD\s+0x([0-9a-fA-F]+)", result.stdout)
        self.original = int(match.group(1), 16) if match else None

    def _reg(self, *args, check_ok=True):
        result = subprocess.run(["wine", "reg"] + list(args), env=self.desktop.env,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                timeout=60)
        if check_ok:
            check(result.returncode == 0, "wine reg %s: %s%s" % (" ".join(args), result.stdout,
                                                                  result.stderr))
        return result

    def set(self, dpi):
        self._reg("add", DPI_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
        screen = self.desktop.probe_one("screen")
        check(screen["dpiy"] == str(dpi), "LogPixels %d gives a screen of %s dpi" % (dpi, screen["dpiy"]))

    def restore(self):
        if self.original is None:
            self._reg("delete", DPI_KEY, "/v", "LogPixels", "/f")
        else:
            self._reg("add", DPI_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                      str(self.original), "/f")


def layout_problems(desktop, keys, dpi, when, moved=False):
    """The client size at DPI, every key at its place in it, touching neighbours
    touching, nothing overlapping, the right and bottom edges reached, and the
    keys' font 9 point. Returns the list of problems and the window.

    moved: the window was told of a new DPI by WM_DPICHANGED while it stays on
    the one screen Wine has. Wine 8 draws every frame at the system DPI, so the
    window, rightly sized for a frame at the new DPI, has a client area that
    differs by the two frames' difference. Then the outer size is checked
    against a designed client area in a frame at the new DPI, which is what the
    client area would be on a real screen of that DPI."""
    window = Window(desktop.probe_one("keyboard"))
    client = window.client
    width_tw, height_tw = client_twips()
    problems = []
    want = (px(width_tw, dpi), px(height_tw, dpi))
    if moved:
        frame = desktop.probe_ok("frame", dpi, *want)
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
    children = desktop.children()
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
        font = desktop.probe_ok("font", control_id(control, index))
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
        rows = [shot.region(Rect("%d,%d,%d,%d" % (r.left, y, r.right, y + 1)))
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


def case_high_dpi(desktop):
    """At 96, 120 and 144 dpi the client area and the keys scale from twips, the keys
    tile without gaps or overlaps, the captions are 9 point and stay inside each key's
    face; WM_DPICHANGED lays the window out again at the new DPI."""
    keys = read_key_table()
    failures = []
    dpi_setting = LogPixels(desktop)
    print("LogPixels in %s before the case: %s" % (DPI_KEY, dpi_setting.original))
    try:
        for dpi in DPIS:
            dpi_setting.set(dpi)
            with Run(desktop, "high_dpi_%d" % dpi, target=False):
                problems, window = layout_problems(desktop, keys, dpi, "at %d dpi" % dpi)
                inked = caption_edge_problems(desktop.screenshot(), desktop.children(), keys,
                                              "at %d dpi" % dpi)
                print("%d dpi: %d of %d keys with a caption crossing into the edge" % (
                    dpi, len(inked), len(keys)))
                problems += inked
                failures += problems
                path = desktop.save_screenshot(os.path.join(desktop.out_dir, "keyboard_%ddpi.png" % dpi),
                                               window.rect, enlarge=3)
                print("screenshot at %d dpi, enlarged three times: %s" % (dpi, path))
                print("%d dpi: client %dx%d, %d keys placed, %s" % (
                    dpi, window.client.width, window.client.height, len(keys),
                    "%d problem(s)" % len(problems) if problems else "all tiled, 9 point"))
                if dpi == 96:
                    # The window moved to a monitor of another DPI: the suggested rect,
                    # elsewhere, is handed over in the keyboard's own memory, and the
                    # keyboard stays there rather than going back to the first monitor.
                    for new_dpi, dx, dy in ((144, -200, -300), (96, 150, 200)):
                        item = desktop.probe_ok("dpichanged", new_dpi, dx, dy)
                        check(item["result"] == "0", "WM_DPICHANGED returned %s" % item["result"])
                        settled_keyboard(desktop)
                        problems, window = layout_problems(
                            desktop, keys, new_dpi, "after WM_DPICHANGED to %d dpi" % new_dpi,
                            moved=True)
                        suggested = Rect(item["rect"])
                        if (window.rect.left, window.rect.top) != (suggested.left, suggested.top):
                            problems.append("after WM_DPICHANGED to %d dpi the window is at %r, not at the "
                                            "suggested %r" % (new_dpi, window.rect, suggested))
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


# --- screen readers ---------------------------------------------------------------

ROLE_SYSTEM_PUSHBUTTON = 43
ROLE_SYSTEM_INDICATOR = 39
LIGHT_ROLE = ROLE_SYSTEM_INDICATOR
STATE_SYSTEM_UNAVAILABLE = 0x1
STATE_SYSTEM_PRESSED = 0x8
STATE_SYSTEM_CHECKED = 0x10
STATE_SYSTEM_INVISIBLE = 0x8000

LIT, DARK = "\u4eae", "\u706d"  # 亮, 灭


# The lock controls, the light each one drives and the light's name, in light
# order (control ids 0x2000, 0x2001, 0x2002).
LOCKS = (("数字锁", "数字灯"), ("大写锁", "大写灯"), ("卷轴锁", "卷轴灯"))
FIRST_LIGHT_ID = 0x2000
LATCHING = {"大写锁", "数字锁", "卷轴锁", "徽标", "转换", "控制", "换档"}


def _int(item, key):
    try:
        return int(item.get(key, ""), 0)
    except ValueError:
        return None


def case_accessibility(desktop):
    """Screen readers hear every key's full name as a push button, and each light's
    state. For every key the accessible name is its tooltip, code unit for code
    unit, the role a push button, with no access key, visible and available; a lock
    or modifier key reports "pressed" exactly when its light (for the locks) is lit,
    and on a keyboard nobody has clicked yet only Num Lock. Each light is named by
    the text under it, reports "checked" when lit and has the value 亮 (lit) or 灭
    (dark); at start only Num Lock's is lit."""
    keys = read_key_table()
    with Run(desktop, "accessibility"):
        items = desktop.probe("acc", "all")
    seen = {int(item["id"], 16): item for item in items if "id" in item}
    check(seen, "the probe read no control's accessible object: %r" % items[-5:])
    problems = []

    def describe(control, index, cid):
        return "%s(%d) id 0x%04x" % (control, index, cid)

    held = {}
    for key in keys:
        control, index, cid, tooltip = key.control, key.index, key.id, key.tooltip
        what = describe(control, index, cid)
        item = seen.get(cid)
        if item is None or "none" in item:
            problems.append("%s: the probe did not find the key" % what)
            continue
        if "object_hr" in item:
            problems.append("%s: no accessible object (%s)" % (what, item["object_hr"]))
            continue
        if item.get("name") != hex_text(tooltip):
            problems.append("%s: name %r (%s), expected its tooltip %r"
                            % (what, from_hex(item.get("name", "")), item.get("name"), tooltip))
        if _int(item, "role") != ROLE_SYSTEM_PUSHBUTTON:
            problems.append("%s: role %s, expected %d (push button)"
                            % (what, item.get("role") or item.get("role_text"), ROLE_SYSTEM_PUSHBUTTON))
        if item.get("shortcut"):
            problems.append("%s: keyboard shortcut %r, expected none"
                            % (what, from_hex(item["shortcut"])))
        state = _int(item, "state")
        if state is None:
            problems.append("%s: no state (%s)" % (what, item.get("state_hr")))
            continue
        if state & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_UNAVAILABLE):
            problems.append("%s: state 0x%08x says invisible or unavailable" % (what, state))
        pressed = bool(state & STATE_SYSTEM_PRESSED)
        if control not in LATCHING and pressed:
            problems.append("%s: an ordinary key reports pressed (state 0x%08x)" % (what, state))
        if control in LATCHING:
            held[control] = held.get(control, False) or pressed
            if pressed != (control == "数字锁"):
                problems.append("%s: %s at start (state 0x%08x)"
                                % (what, "pressed" if pressed else "not pressed", state))

    for number, (lock, name) in enumerate(LOCKS):
        cid = FIRST_LIGHT_ID + number
        what = "light %s id 0x%04x" % (name, cid)
        item = seen.get(cid)
        if item is None or "object_hr" in item:
            problems.append("%s: no accessible object (%s)" % (what, item and item.get("object_hr")))
            continue
        if item.get("name") != hex_text(name):
            problems.append("%s: name %r (%s), expected %r"
                            % (what, from_hex(item.get("name", "")), item.get("name"), name))
        if _int(item, "role") != LIGHT_ROLE:
            problems.append("%s: role %s, expected %d" % (what, item.get("role"), LIGHT_ROLE))
        state = _int(item, "state")
        value = from_hex(item.get("value", ""))
        if state is None:
            problems.append("%s: no state (%s)" % (what, item.get("state_hr")))
            continue
        lit = bool(state & STATE_SYSTEM_CHECKED)
        if value != (LIT if lit else DARK):
            problems.append("%s: value %r but state 0x%08x says %s"
                            % (what, value, state, "lit" if lit else "dark"))
        if lock in held and held[lock] != lit:
            problems.append("%s is %s but its lock key %s reports %s"
                            % (what, "lit" if lit else "dark", lock,
                               "pressed" if held[lock] else "not pressed"))
        if lit != (lock == "数字锁"):
            problems.append("%s: %s at start" % (what, "lit" if lit else "dark"))

    check(not problems, "%d accessibility problem(s):\n%s" % (len(problems), "\n".join(problems)))
    print("%d keys named by their tooltips as push buttons; lights %s" % (
        len(keys), ", ".join("%s=%s" % (name, from_hex(seen[FIRST_LIGHT_ID + n].get("value", "")))
                             for n, (_, name) in enumerate(LOCKS))))
