#!/usr/bin/python3
"""What screen readers are told about a running keyboard, read through Active
Accessibility by acc_probe.exe.

    run(session, fresh=True)

`session` is any object with two attributes:

    session.acc_probe              host path of acc_probe.exe
    session.run_win32(exe, args)   runs a Win32 program under the session's Wine
                                   with a list of string arguments and returns
                                   its standard output as text

A keyboard window must be running. For every one of the 104 keys in
layout/key_table.h the accessible name must be the key's tooltip, code unit for
code unit, the role a push button, with no access key, visible and available;
a lock or modifier key reports "pressed" exactly when its light (for the locks)
is lit. Each of the three lights must be named by the text under it, report
"checked" when lit and have the value 亮 (lit) or 灭 (dark). With fresh=True
(a keyboard nobody has clicked yet) only Num Lock may be held and only its
light lit.

Every problem found is collected; one AssertionError lists them all.

Standalone, against a keyboard already running in a session of session.py:

    accessibility_case.py --state STATE --acc-probe PATH [--not-fresh]
"""

import argparse
import os
import re
import subprocess
import sys

SOURCE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

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

_ESCAPE = re.compile(r'\\(u[0-9A-Fa-f]{4}|U[0-9A-Fa-f]{8}|["\\\'nrt0])')
_SIMPLE = {'"': '"', "\\": "\\", "'": "'", "n": "\n", "r": "\r", "t": "\t", "0": "\0"}


def _unescape(literal):
    """The text of the body of a C++ u"..." literal."""
    def one(match):
        code = match.group(1)
        return chr(int(code[1:], 16)) if code[0] in "uU" else _SIMPLE[code]
    return _ESCAPE.sub(one, literal)


def _controls(source_dir):
    """The Control enumerators of layout/key_ref.h, in order, as {name: number}."""
    with open(os.path.join(source_dir, "layout", "key_ref.h"), encoding="utf-8") as f:
        text = f.read()
    body = re.search(r"enum class Control\b[^{]*\{(.*?)\};", text, re.S)
    if not body:
        raise AssertionError("no enum class Control in layout/key_ref.h")
    names = [re.sub(r"//.*", "", line).strip().rstrip(",")
             for line in body.group(1).splitlines()]
    return {name: number for number, name in enumerate(n for n in names if n)}


def key_table(source_dir=SOURCE_DIR):
    """The keys of layout/key_table.h as (control name, index, control id, tooltip)."""
    controls = _controls(source_dir)
    with open(os.path.join(source_dir, "layout", "key_table.h"), encoding="utf-8") as f:
        text = f.read()
    row = re.compile(r'\{\{Control::(\w+)(?:,\s*(\d+))?\},\s*u"((?:[^"\\]|\\.)*)",\s*u"((?:[^"\\]|\\.)*)"')
    keys = []
    for match in row.finditer(text):
        control, index = match.group(1), int(match.group(2) or 0)
        if control not in controls:
            raise AssertionError("key_table.h names an unknown control %s" % control)
        keys.append((control, index, 0x1000 | controls[control] << 8 | index, _unescape(match.group(4))))
    if len(keys) != 104:
        raise AssertionError("read %d keys from layout/key_table.h, expected 104" % len(keys))
    return keys


def hex_text(text):
    return "".join("%04X" % unit for unit in _utf16_units(text))


def _utf16_units(text):
    data = text.encode("utf-16-le")
    return [data[i] | data[i + 1] << 8 for i in range(0, len(data), 2)]


def _from_hex(units):
    data = b"".join(int(units[i:i + 4], 16).to_bytes(2, "little") for i in range(0, len(units), 4))
    return data.decode("utf-16-le", errors="replace")


def _parse(line):
    words = line.split()
    item = {}
    for word in words[1:]:
        key, eq, value = word.partition("=")
        item[key] = value if eq else True
    return item


def read_controls(session, ids=("all",)):
    """acc_probe's view of the controls, as {control id: {field: text}}."""
    out = session.run_win32(session.acc_probe, [str(i) for i in ids])
    found = {}
    for line in out.splitlines():
        if line.startswith("acc "):
            item = _parse(line)
            found[int(item["id"], 16)] = item
    if not found:
        raise AssertionError("acc_probe %s printed no control (is the keyboard running?): %r"
                             % (" ".join(map(str, ids)), out[-500:]))
    return found


def _int(item, key):
    try:
        return int(item.get(key, ""), 0)
    except ValueError:
        return None


def run(session, fresh=True, source_dir=SOURCE_DIR):
    keys = key_table(source_dir)
    seen = read_controls(session)
    problems = []

    def describe(control, index, cid):
        return "%s(%d) id 0x%04x" % (control, index, cid)

    held = {}
    for control, index, cid, tooltip in keys:
        what = describe(control, index, cid)
        item = seen.get(cid)
        if item is None or "none" in item:
            problems.append("%s: acc_probe did not find the key" % what)
            continue
        if "object_hr" in item:
            problems.append("%s: no accessible object (%s)" % (what, item["object_hr"]))
            continue
        if item.get("name") != hex_text(tooltip):
            problems.append("%s: name %r (%s), expected its tooltip %r"
                            % (what, _from_hex(item.get("name", "")), item.get("name"), tooltip))
        if _int(item, "role") != ROLE_SYSTEM_PUSHBUTTON:
            problems.append("%s: role %s, expected %d (push button)"
                            % (what, item.get("role") or item.get("role_text"), ROLE_SYSTEM_PUSHBUTTON))
        if item.get("shortcut"):
            problems.append("%s: keyboard shortcut %r, expected none"
                            % (what, _from_hex(item["shortcut"])))
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
            if fresh and pressed != (control == "数字锁"):
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
                            % (what, _from_hex(item.get("name", "")), item.get("name"), name))
        if _int(item, "role") != LIGHT_ROLE:
            problems.append("%s: role %s, expected %d" % (what, item.get("role"), LIGHT_ROLE))
        state = _int(item, "state")
        value = _from_hex(item.get("value", ""))
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
        if fresh and lit != (lock == "数字锁"):
            problems.append("%s: %s at start" % (what, "lit" if lit else "dark"))

    if problems:
        raise AssertionError("%d accessibility problem(s):\n%s" % (len(problems), "\n".join(problems)))
    return "%d keys named by their tooltips as push buttons; lights %s" % (
        len(keys), ", ".join("%s=%s" % (name, _from_hex(seen[FIRST_LIGHT_ID + n].get("value", "")))
                             for n, (_, name) in enumerate(LOCKS)))


class _WineSession:
    """A session.py session, for running this case by hand."""

    def __init__(self, state_path, acc_probe):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import session as sessionlib
        self.env = sessionlib.Session.load(state_path).env()
        self.acc_probe = acc_probe

    def run_win32(self, exe, args):
        return subprocess.run(["wine", exe] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=120).stdout


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--state", default=os.environ.get("VIMBREL_E2E_STATE"), required=False)
    parser.add_argument("--acc-probe", required=True)
    parser.add_argument("--not-fresh", action="store_true")
    args = parser.parse_args(argv[1:])
    if not args.state:
        parser.error("need --state or VIMBREL_E2E_STATE")
    try:
        print(run(_WineSession(args.state, args.acc_probe), fresh=not args.not_fresh))
    except AssertionError as failure:
        print("FAIL: %s" % failure)
        return 1
    print("PASS accessibility")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
