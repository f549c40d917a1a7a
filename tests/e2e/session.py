#!/usr/bin/python3
"""The desktop the end-to-end tests share: a virtual X display, a window manager
and a throw-away Wine prefix; or, for the native keyboard, a display, a window
manager and a D-Bus session (which xfwm4 and screen readers need), no Wine.

    session.py start STATE [--native] [--wm openbox|xfwm4] [--arch win32|win64]
                              start everything and describe it in the JSON file STATE
    session.py start STATE --wayland [--xwayland]
                              a headless sway instead (the Wayland cases), with or without XWayland
    session.py stop STATE     stop everything STATE lists and delete its files
    session.py run [--arch win32|win64] -- CMD...
                              start, run CMD with the session's environment, stop
    session.py arch           print the Windows build this machine's Wine runs

The Wine session runs the 32-bit build (build/win32) where this machine runs
32-bit x86 code, and the 64-bit one (build/win64, under wine64) where it does
not; VIMBREL_WINE_ARCH=win32|win64 or --arch chooses instead. The state file
names the build's folder ("build_dir").

sway refuses to run as root: it runs as nobody, in a runtime folder of its own
(mode 0700, owned by nobody) that its clients, run as root, reach all the same.

Nothing depends on the caller's DISPLAY: the display number comes from Xvfb itself
(-displayfd), so several sessions can run on one machine. Every process started here
is stopped by its PID; Wine's own processes end with `wineserver -k` on our prefix.
"""

import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCREEN = "1280x1024x24"
WINEBOOT_TIMEOUT = 180
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_ARCHES = ("win32", "win64")
# Debian's wine32 runs 32-bit programs through the i386 loader from libc6:i386.
I386_LOADER = "/lib/ld-linux.so.2"
WINE64 = "/usr/lib/wine/wine64"


def runs_32_bit_code():
    """Whether this machine executes i386 programs: some kernels have no 32-bit
    emulation at all, and everything of wine32 then fails with "Exec format error"."""
    try:
        return subprocess.run([I386_LOADER, "--version"], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=30).returncode == 0, I386_LOADER
    except OSError as e:
        return False, "%s: %s" % (I386_LOADER, e.strerror)


def wine_arch(forced=None):
    """The Windows build the Wine session runs, and why."""
    forced = forced or os.environ.get("VIMBREL_WINE_ARCH")
    if forced:
        if forced not in WINE_ARCHES:
            raise RuntimeError("VIMBREL_WINE_ARCH is %r, not one of %s" % (forced, "|".join(WINE_ARCHES)))
        return forced, "chosen by VIMBREL_WINE_ARCH or --arch"
    runs, how = runs_32_bit_code()
    if runs:
        return "win32", "this machine runs 32-bit code (%s starts)" % how
    return "win64", "this machine cannot run 32-bit code (%s), so wine64 runs the 64-bit build" % how


def build_dir(arch):
    return os.path.join(SOURCE_DIR, "build", arch)


def clean_environment():
    """The environment every program of a session starts from."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "WINEPREFIX", "WINEARCH",
                 "WINESERVER", "WINELOADER", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
                 "GDK_SCALE", "GDK_DPI_SCALE", "GTK_THEME"):
        env.pop(name, None)
    env.setdefault("HOME", tempfile.gettempdir())
    env["WINEDEBUG"] = "-all"
    # No Mono or Gecko installers: they would pop up dialogs and cost minutes.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    return env


class Session:
    """A running session as described by its state file."""

    def __init__(self, state):
        self.state = state

    @classmethod
    def load(cls, path):
        with open(path, encoding="utf-8") as f:
            return cls(json.load(f))

    @property
    def workdir(self):
        return self.state["workdir"]

    @property
    def display(self):
        return self.state.get("display")

    @property
    def build_dir(self):
        """The Windows build the session runs: vimbrel.exe and its helper programs."""
        return self.state.get("build_dir")

    def env(self):
        env = clean_environment()
        if self.display is not None:
            env["DISPLAY"] = ":%d" % self.display
        if "prefix" in self.state:
            env["WINEPREFIX"] = self.state["prefix"]
        if self.state.get("arch") == "win64":
            # Debian's `wine` prefers wine32 whenever it is installed, even where it
            # cannot run: `wine` here is wine64 itself (the session's bin/ folder).
            env["WINEARCH"] = "win64"
            env["WINELOADER"] = WINE64
            env["PATH"] = os.path.join(self.workdir, "bin") + os.pathsep + env.get("PATH", os.defpath)
        if "bus" in self.state:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.state["bus"]
        if "wayland" in self.state:
            env["XDG_RUNTIME_DIR"] = self.state["runtime"]
            env["WAYLAND_DISPLAY"] = self.state["wayland"]
            env["SWAYSOCK"] = self.state["swaysock"]
            if self.state.get("x_display"):
                env["DISPLAY"] = self.state["x_display"]
        return env

    def save(self, path):
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(self.state, f, indent=2)
        os.replace(tmp, path)


def _log(session, name):
    return open(os.path.join(session.workdir, name + ".log"), "ab")


def _spawn(session, name, argv, env, **kwargs):
    """Starts a long-running process detached from our own stdout/stderr,
    so that CTest does not wait for it when the start step ends."""
    with _log(session, name) as log:
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                start_new_session=True, **kwargs)
    session.state.setdefault("pids", {})[name] = proc.pid
    return proc


def _start_xvfb(session):
    read_end, write_end = os.pipe()
    try:
        proc = _spawn(session, "xvfb",
                      ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN,
                       "-nolisten", "tcp", "-noreset"],
                      clean_environment(), pass_fds=(write_end,))
    finally:
        os.close(write_end)
    text = b""
    deadline = time.monotonic() + 30
    try:
        while not text.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or proc.poll() is not None:
                raise RuntimeError("Xvfb did not report a display number; see xvfb.log in "
                                   + session.workdir)
            ready, _, _ = select.select([read_end], [], [], remaining)
            if ready:
                chunk = os.read(read_end, 64)
                if not chunk:
                    raise RuntimeError("Xvfb closed -displayfd without a display number")
                text += chunk
    finally:
        os.close(read_end)
    session.state["display"] = int(text.strip())


def _start_dbus(session):
    """A session bus of our own: xfwm4 ends at once without one, and GTK's
    accessibility bridge finds the screen readers' bus through it."""
    path = os.path.join(session.workdir, "bus")
    _spawn(session, "dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                             "--address=unix:path=" + path], clean_environment())
    deadline = time.monotonic() + 10
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            raise RuntimeError("dbus-daemon did not open " + path)
        time.sleep(0.05)
    session.state["bus"] = "unix:path=" + path


SWAY_SIZE = (1280, 1024)


def _nobody():
    import grp
    import pwd
    return pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid


def _start_sway(session, xwayland, state_path):
    """A headless sway of its own, as nobody: software rendering, no input
    devices (the cases bring a virtual pointer), one output of SWAY_SIZE.
    With xwayland, its X display is written down by sway itself."""
    runtime = tempfile.mkdtemp(prefix="vimbrel-sway-")
    session.state["runtime"] = runtime
    config = os.path.join(runtime, "config")
    with open(config, "w", encoding="utf-8") as f:
        f.write("output HEADLESS-1 mode %dx%d\n" % SWAY_SIZE)
        if xwayland:
            # XWayland lets in its own user only: the clients, run as root, are let in too.
            f.write("xwayland force\nexec sh -c 'xhost +si:localuser:root >/dev/null && echo $DISPLAY > %s/x_display'\n"
                    % runtime)
        else:
            f.write("xwayland disable\n")
    uid, gid = _nobody()
    for path in (runtime, config):
        os.chown(path, uid, gid)
    env = {"PATH": os.environ.get("PATH", os.defpath), "HOME": runtime, "XDG_RUNTIME_DIR": runtime,
           "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman"}
    _spawn(session, "sway", ["setpriv", "--reuid=%d" % uid, "--regid=%d" % gid, "--clear-groups",
                             "sway", "-c", config], env)
    session.save(state_path)  # stopped by its PID, also when it fails to come up
    deadline = time.monotonic() + 20
    while True:
        names = os.listdir(runtime)
        wayland = [n for n in names if re.fullmatch(r"wayland-\d+", n)]
        ipc = [n for n in names if n.startswith("sway-ipc.")]
        x_display = ""
        if xwayland and "x_display" in names:
            with open(os.path.join(runtime, "x_display"), encoding="utf-8") as f:
                x_display = f.read().strip()
        if wayland and ipc and (x_display or not xwayland):
            break
        if time.monotonic() > deadline:
            raise RuntimeError("sway did not come up; see sway.log in " + session.workdir)
        time.sleep(0.05)
    session.state.update(wayland=wayland[0], swaysock=os.path.join(runtime, ipc[0]), x_display=x_display)


XFCONFD = "/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd"


def _openbox_config(session):
    """openbox's own configuration, less its binding of Print Screen to a screenshot
    program: the keys the keyboard types, that one included, go to the target."""
    with open("/etc/xdg/openbox/rc.xml", encoding="utf-8") as f:
        text = re.sub(r'<keybind key="Print">.*?</keybind>', "", f.read(), flags=re.S)
    path = os.path.join(session.workdir, "openbox-rc.xml")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def _start_window_manager(session, wm):
    if wm == "xfwm4":
        _spawn(session, "xfconfd", [XFCONFD], session.env())
        _spawn(session, "xfwm4", ["xfwm4", "--compositor=off", "--sm-client-disable"], session.env())
    else:
        _spawn(session, "openbox", ["openbox", "--sm-disable", "--config-file", _openbox_config(session)],
               session.env())
    session.state["wm"] = wm
    _wait_for_window_manager(session)


def _wait_for_window_manager(session, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        probe = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=session.env(),
                               capture_output=True, text=True)
        if "window id" in probe.stdout:
            return
        time.sleep(0.2)
    raise RuntimeError("the window manager did not come up on display :%d" % session.display)


# Windows font names a program may ask for to get Chinese text, all served by the
# CJK font of the host (fonts-wqy-microhei).
CHINESE_FONT = "WenQuanYi Micro Hei"
CHINESE_FONT_FILE = "wqy-microhei.ttc"
CHINESE_FACES = ("SimSun", "NSimSun", "\u5b8b\u4f53", "\u65b0\u5b8b\u4f53", "SimHei", "\u9ed1\u4f53",
                 "Microsoft YaHei", "Microsoft YaHei UI", "\u5fae\u8f6f\u96c5\u9ed1")
# Latin faces that draw Chinese characters through font linking, as on a Chinese Windows.
LINKED_FACES = ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "Segoe UI",
                "Arial", "System", "Times New Roman", "Courier New", "DejaVu Sans", "DejaVu Serif",
                "DejaVu Sans Mono", "Nimbus Roman", "Nimbus Sans", "Liberation Serif",
                "Liberation Sans", "Bitstream Vera Serif", "Bitstream Vera Sans")


def _link_chinese_font(session):
    """Wine finds the host's fonts through fontconfig, but asks for Chinese glyphs
    by Windows font names; without these entries every Chinese caption is boxes."""
    def multi_string(text):
        data = (text + "\0\0").encode("utf-16-le")
        return "hex(7):" + ",".join("%02x" % b for b in data)

    lines = ["Windows Registry Editor Version 5.00", "",
             r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
    lines += ['"%s"="%s"' % (face, CHINESE_FONT) for face in CHINESE_FACES]
    lines += ["", r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink"
                  r"\SystemLink]"]
    link = multi_string("%s,%s" % (CHINESE_FONT_FILE, CHINESE_FONT))
    lines += ['"%s"=%s' % (face, link) for face in LINKED_FACES]
    path = os.path.join(session.workdir, "fonts.reg")
    with open(path, "w", encoding="utf-16") as f:
        f.write("\r\n".join(lines) + "\r\n")
    with _log(session, "regedit") as log:
        subprocess.run(["wine", "regedit", "/s", windows_path(path)], env=session.env(),
                       stdin=subprocess.DEVNULL, stdout=log, stderr=log, timeout=120, check=True)


def windows_path(path):
    """A host path as Wine programs see it, through drive Z: (the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _choose_build(session, arch):
    arch, why = wine_arch(arch)
    session.state["arch"] = arch
    session.state["build_dir"] = build_dir(arch)
    if arch == "win64":
        # A script, not a link: wine64 started through a link named wine cannot find its loader.
        os.mkdir(os.path.join(session.workdir, "bin"))
        wine = os.path.join(session.workdir, "bin", "wine")
        with open(wine, "w", encoding="utf-8") as f:
            f.write('#!/bin/sh\nexec %s "$@"\n' % WINE64)
        os.chmod(wine, 0o755)
    print("wine session: testing %s (%s)" % (os.path.join(session.build_dir, "vimbrel.exe"), why), flush=True)


def start(state_path, native=False, wm="openbox", arch=None, wayland=False, xwayland=False):
    stop(state_path)  # a session left behind by an interrupted run
    session = Session({"workdir": tempfile.mkdtemp(prefix="vimbrel-e2e-")})
    session.save(state_path)
    try:
        if wayland:
            _start_sway(session, xwayland, state_path)
            session.save(state_path)
            return session
        _start_xvfb(session)
        session.save(state_path)
        if native:
            _start_dbus(session)
            session.save(state_path)
            _start_window_manager(session, wm)
            session.save(state_path)
            return session

        _choose_build(session, arch)
        session.save(state_path)
        _spawn(session, "openbox", ["openbox", "--sm-disable"], session.env())
        session.save(state_path)
        _wait_for_window_manager(session)

        session.state["prefix"] = os.path.join(session.workdir, "prefix")
        os.mkdir(session.state["prefix"])
        session.save(state_path)
        # One wineserver for the whole session, started before anything else of
        # Wine so that it is the one every program joins: each test starts several
        # Wine programs, and a server that stays saves its start-up each time.
        # (Debian's wrapper passes -p0; the later -p wins.)
        _spawn(session, "wineserver", ["wineserver", "-f", "-p"], session.env())
        session.save(state_path)
        with _log(session, "wineboot") as log:
            subprocess.run(["wine", "wineboot", "-i"], env=session.env(), stdin=subprocess.DEVNULL,
                           stdout=log, stderr=log, timeout=WINEBOOT_TIMEOUT, check=True)
        _link_chinese_font(session)
    except BaseException:
        stop(state_path)
        raise
    print("session display=:%d prefix=%s workdir=%s"
          % (session.display, session.state["prefix"], session.workdir))


def _is_ours(pid, name):
    """The PID still runs the program we started (PIDs get reused)."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            cmdline = f.read().split(b"\0")
    except OSError:
        return False
    return any(name.encode() in part.lower() for part in cmdline[:1])


def _end(pid, name, timeout=5):
    if not _is_ours(pid, name):
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                done, _ = os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                done = 0 if _is_ours(pid, name) else pid
            if done == pid or not _is_ours(pid, name):
                return
            time.sleep(0.1)


def stop(state_path):
    if not os.path.exists(state_path):
        return
    session = Session.load(state_path)
    pids = session.state.get("pids", {})
    if "prefix" in session.state and os.path.isdir(session.state["prefix"]):
        try:
            subprocess.run(["wineserver", "-k"], env=session.env(), stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=30)
        except subprocess.TimeoutExpired:
            pass
    for name, program in (("wineserver", "wineserver"), ("openbox", "openbox"), ("xfwm4", "xfwm4"),
                          ("xfconfd", "xfconfd"), ("xvfb", "xvfb"), ("dbus", "dbus-daemon"), ("sway", "sway")):
        if name in pids:
            _end(pids[name], program)
    if "runtime" in session.state:
        shutil.rmtree(session.state["runtime"], ignore_errors=True)
    shutil.rmtree(session.workdir, ignore_errors=True)
    os.remove(state_path)


def run(argv, arch=None):
    state_dir = tempfile.mkdtemp(prefix="vimbrel-e2e-state-")
    state_path = os.path.join(state_dir, "session.json")
    try:
        start(state_path, arch=arch)
        env = Session.load(state_path).env()
        env["VIMBREL_E2E_STATE"] = state_path
        return subprocess.run(argv, env=env).returncode
    finally:
        stop(state_path)
        shutil.rmtree(state_dir, ignore_errors=True)


def _option(options, name, default=None):
    return options[options.index(name) + 1] if name in options[:-1] else default


def main(argv):
    if len(argv) >= 3 and argv[1] == "start":
        options = argv[3:]
        start(os.path.abspath(argv[2]), native="--native" in options, wm=_option(options, "--wm", "openbox"),
              arch=_option(options, "--arch"), wayland="--wayland" in options, xwayland="--xwayland" in options)
        return 0
    if len(argv) == 3 and argv[1] == "stop":
        stop(os.path.abspath(argv[2]))
        return 0
    if len(argv) >= 4 and argv[1] == "run" and "--" in argv:
        split = argv.index("--")
        return run(argv[split + 1:], arch=_option(argv[2:split], "--arch"))
    if len(argv) == 2 and argv[1] == "arch":
        arch, why = wine_arch()
        print(arch)
        print("%s: %s" % (arch, why), file=sys.stderr)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
