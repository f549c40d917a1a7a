#!/usr/bin/python3
"""The end-to-end runner: every case in CASES below, each a function of the
Desktop (harness.py) in a module of cases, run in the session that
`session.py start` describes.

    e2e.py --state STATE --out-dir DIR [--predict PATH] CASE [CASE...]
    e2e.py --list

STATE is the session's state file (default: $VIMBREL_E2E_STATE), which names the
Windows build the session runs (vimbrel.exe, tests/e2e/win32/{target,probe}.exe
of the win32 or win64 preset); --predict the native soak_predict tool, the core's own account of a click
sequence. Each case starts what it needs and ends it, so cases run in any
order; CASE "all" runs every case but the smoke run. --list prints "name timeout
kind" per case, the timeout in seconds: CTest registers one test per line
(CMakeLists.txt beside). The smoke run is the short check of the 64-bit build
where the full suite runs the 32-bit one, in a Wine session of its own.

VIMBREL_VERSION and VIMBREL_VERSION_TEXT give the product's version and the
text it shows of it; CTest sets them from CMakeLists.txt.

The soak's sequence comes from a seed, printed at the start: VIMBREL_SOAK_SEED
replays a run, VIMBREL_SOAK_SECONDS sets how long the clicking lasts.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import native_cases as native  # noqa: E402
import session as sessionlib  # noqa: E402
import package_cases as package  # noqa: E402
import wine_cases as wine  # noqa: E402
import wayland_cases as wayland  # noqa: E402
import gnome_cases as gnome  # noqa: E402
from harness import VERSION, VERSION_TEXT, CaseFailure, Desktop  # noqa: E402

DEFAULT_TIMEOUT = 150
NATIVE_TIMEOUT = 120

# The one table of cases: name, function, timeout in seconds. The Windows
# build's cases share one Wine session; the native keyboard's ("native_")
# start an X server of their own each, and its Wayland cases ("wayland_") a
# headless sway each, or a headless mutter ("wayland_gnome_").
CASES = (
    ("ordinary_keys", wine.case_ordinary_keys, DEFAULT_TIMEOUT),
    ("double_click", wine.case_double_click, DEFAULT_TIMEOUT),
    ("focus_stays", wine.case_focus_stays, DEFAULT_TIMEOUT),
    ("highlight", wine.case_highlight, DEFAULT_TIMEOUT),
    ("placement", wine.case_placement, DEFAULT_TIMEOUT),
    ("single_instance", wine.case_single_instance, DEFAULT_TIMEOUT),
    ("screenshot", wine.case_screenshot, DEFAULT_TIMEOUT),
    ("ctrl_c", wine.case_ctrl_c, DEFAULT_TIMEOUT),
    ("caps_a", wine.case_caps_a, DEFAULT_TIMEOUT),
    ("shift_1", wine.case_shift_1, DEFAULT_TIMEOUT),
    ("held_ring", wine.case_held_ring, DEFAULT_TIMEOUT),
    ("numlock_keypad", wine.case_numlock_keypad, DEFAULT_TIMEOUT),
    ("keypad_enter_menu_key", wine.case_keypad_enter_menu_key, DEFAULT_TIMEOUT),
    ("captions_readback", wine.case_captions_readback, DEFAULT_TIMEOUT),
    ("close_releases_ctrl", wine.case_close_releases_ctrl, DEFAULT_TIMEOUT),
    ("menu", wine.case_menu, DEFAULT_TIMEOUT),
    ("menu_click_outside", wine.case_menu_click_outside, DEFAULT_TIMEOUT),
    ("space_at_start", wine.case_space_at_start, DEFAULT_TIMEOUT),
    ("restore_minimised", wine.case_restore_minimised, DEFAULT_TIMEOUT),
    ("latch_across_windows", wine.case_latch_across_windows, DEFAULT_TIMEOUT),
    ("pointers", wine.case_pointers, DEFAULT_TIMEOUT),
    ("tooltip", wine.case_tooltip, DEFAULT_TIMEOUT),
    ("accessibility", wine.case_accessibility, DEFAULT_TIMEOUT),
    ("soak", wine.case_soak, 240),
    ("ways_out", wine.case_ways_out, DEFAULT_TIMEOUT),
    ("eight_copies", wine.case_eight_copies, 90),
    ("high_dpi", wine.case_high_dpi, 180),
    ("native_typing", native.case_typing, NATIVE_TIMEOUT),
    ("native_focus_xfwm4", native.case_focus_xfwm4, NATIVE_TIMEOUT),
    ("native_modifiers", native.case_modifiers, NATIVE_TIMEOUT),
    ("native_locks_keypad", native.case_locks_keypad, NATIVE_TIMEOUT),
    ("native_held_ring", native.case_held_ring, NATIVE_TIMEOUT),
    ("native_foreign_layout", native.case_foreign_layout, NATIVE_TIMEOUT),
    ("native_ways_out", native.case_ways_out, NATIVE_TIMEOUT),
    ("native_one_per_display", native.case_one_per_display, NATIVE_TIMEOUT),
    ("native_geometry", native.case_geometry, NATIVE_TIMEOUT),
    ("native_two_monitors", native.case_two_monitors, NATIVE_TIMEOUT),
    ("native_accessibility", native.case_accessibility, NATIVE_TIMEOUT),
    ("native_pointers_tooltips", native.case_pointers_tooltips, NATIVE_TIMEOUT),
    ("native_menu", native.case_menu, NATIVE_TIMEOUT),
    ("native_xterm", native.case_xterm, NATIVE_TIMEOUT),
    ("wayland_typing", wayland.case_typing, NATIVE_TIMEOUT),
    ("wayland_geometry_drag", wayland.case_geometry_drag, NATIVE_TIMEOUT),
    ("wayland_one_per_display", wayland.case_one_per_display, NATIVE_TIMEOUT),
    ("wayland_ways_out", wayland.case_ways_out, NATIVE_TIMEOUT),
    ("wayland_backend_choice", wayland.case_backend_choice, NATIVE_TIMEOUT),
    ("wayland_gnome_typing", gnome.case_typing, NATIVE_TIMEOUT),
    ("wayland_gnome_focus", gnome.case_focus, NATIVE_TIMEOUT),
    ("wayland_gnome_declined", gnome.case_declined, NATIVE_TIMEOUT),
    ("wayland_gnome_closed", gnome.case_closed, NATIVE_TIMEOUT),
    ("wayland_gnome_sigterm", gnome.case_sigterm, NATIVE_TIMEOUT),
    ("native_package", package.case_native_package, 300),
    ("windows_packages", package.case_windows_packages, DEFAULT_TIMEOUT),
    ("win64_smoke", wine.case_smoke, DEFAULT_TIMEOUT),
)


def is_native(name):
    return name.startswith(("native_", "wayland_"))


def kind(name):
    if name.startswith("wayland_"):
        return "wayland"
    return "native" if is_native(name) else "smoke" if name.endswith("_smoke") else "wine"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--state", default=os.environ.get("VIMBREL_E2E_STATE"))
    parser.add_argument("--out-dir", default=os.getcwd())
    parser.add_argument("--predict", help="the native soak_predict tool")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--own-session", action="store_true",
                        help="run the cases on build/win64 in a Wine session of their own, "
                             "unless the shared session already runs it (then exit 77: skipped)")
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args(argv[1:])
    table = {name: function for name, function, _ in CASES}
    if len(table) != len(CASES):
        parser.error("the case table names a case twice")
    if args.list:
        print("\n".join("%s %d %s" % (name, timeout, kind(name)) for name, _, timeout in CASES))
        return 0
    if args.own_session:
        arch, why = sessionlib.wine_arch()
        if arch == "win64":
            print("skipped: the full suite runs build/win64 here (%s)" % why)
            return 77
        return sessionlib.run([sys.executable, os.path.abspath(__file__), "--out-dir", args.out_dir]
                              + args.cases, arch="win64")
    names = [n for n in table if kind(n) != "smoke"] if args.cases == ["all"] else args.cases
    unknown = [n for n in names if n not in table]
    wine_cases = [n for n in names if not is_native(n)]
    if not names or unknown or (wine_cases and not args.state):
        parser.error("need known cases, and --state for the Wine session (unknown: %s)" % unknown)
    if not VERSION or not VERSION_TEXT:
        parser.error("VIMBREL_VERSION and VIMBREL_VERSION_TEXT are not set: CTest sets them from CMakeLists.txt")
    os.makedirs(args.out_dir, exist_ok=True)
    desktop = Desktop(args.state if wine_cases else None, args.out_dir, args.predict)
    failed = []
    for name in names:
        started = time.monotonic()
        try:
            table[name](desktop)
            print("PASS %s (%.1f s)" % (name, time.monotonic() - started))
        except CaseFailure as failure:
            failed.append(name)
            print("FAIL %s (%.1f s):\n%s" % (name, time.monotonic() - started, failure))
        sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
