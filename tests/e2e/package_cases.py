#!/usr/bin/python3
"""End-to-end cases of the two downloads, run by e2e.py: the Debian package of
the native keyboard, installed for real and removed again (needs root, as CI
runs), and the Windows zip."""

import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import VERSION, check, icon_pointer_problem, read_icon, read_pointer  # noqa: E402
from native_cases import SOURCE_DIR, Native, brief, wait_for  # noqa: E402


def run(*argv, cwd=None):
    return subprocess.run([str(a) for a in argv], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=300)


def cpack(build_dir, package):
    done = run("cpack", cwd=build_dir)
    path = os.path.join(build_dir, package)
    check(done.returncode == 0 and os.path.exists(path), "cpack made no %s:\n%s%s" % (package, done.stdout, done.stderr))
    return path


def case_native_package(desktop):
    """cpack's .deb passes lintian, desktop-file-validate and appstreamcli; it installs with
    apt-get, its menu entry (gtk-launch) starts the keyboard from another folder, which types
    and shows its finger pointer; removing it leaves none of its files behind."""
    check(os.geteuid() == 0, "installing the package needs root")
    build = os.environ.get("VIMBREL_NATIVE_BUILD", os.path.join(SOURCE_DIR, "build", "native"))
    deb = cpack(build, "vimbrel_%s_amd64.deb" % VERSION)
    errors = [line for line in run("lintian", deb).stdout.splitlines() if line.startswith("E:")]
    check(not errors, "lintian: %s" % errors)
    installed = run("apt-get", "install", "-y", "--reinstall", "-q", deb)
    check(installed.returncode == 0, "apt-get install failed:\n%s" % installed.stderr)
    files = []
    try:
        files = [f for f in run("dpkg", "-L", "vimbrel").stdout.splitlines() if os.path.isfile(f)]
        check("/usr/bin/vimbrel" in files and "/usr/share/icons/hicolor/48x48/apps/vimbrel.png" in files,
              "the package holds %s" % files)
        for argv in (("desktop-file-validate", "/usr/share/applications/vimbrel.desktop"),
                     ("appstreamcli", "validate", "--no-net", "/usr/share/metainfo/vimbrel.metainfo.xml")):
            done = run(*argv)
            check(done.returncode == 0, "%s: %s%s" % (argv[0], done.stdout, done.stderr))
        with Native(desktop, "native_package") as n, tempfile.TemporaryDirectory() as elsewhere:
            n.start_keyboard(argv=["gtk-launch", "vimbrel"], cwd=elsewhere)
            n.start_target()
            n.click(("SKB", 65))
            check(brief(n.key_events(2)) == "+a/0x0 -a/0x0", "the target received %s" % brief(n.key_events(2)))
            icon = read_icon(os.path.join(SOURCE_DIR, "assets", "finger_left_index.ico"))
            n.run("xdotool", "mousemove", *n.point(("SKB", 70)))
            wait_for("the left index finger over F", lambda: icon_pointer_problem(
                icon, read_pointer(n.env["DISPLAY"])) is None, timeout=3)
            installed_run = [pid for pid in run("pgrep", "-x", "vimbrel").stdout.split()
                             if os.path.realpath("/proc/%s/exe" % pid) == "/usr/bin/vimbrel"]
            check(installed_run, "no keyboard runs from /usr/bin/vimbrel")
            for pid in installed_run:
                os.kill(int(pid), 15)
    finally:
        removed = run("apt-get", "remove", "--purge", "-y", "-q", "vimbrel")
    check(removed.returncode == 0, "apt-get remove failed:\n%s" % removed.stderr)
    left = [f for f in files if os.path.lexists(f)]
    check(not left, "left behind: %s" % left)
    check(run("dpkg-query", "-W", "vimbrel").returncode != 0, "dpkg still lists vimbrel")


def case_win32_package(desktop):
    """cpack's zip holds exactly vimbrel.exe, byte for byte the built one, and README.txt."""
    check(desktop.win32_dir, "no --win32-dir")
    path = cpack(desktop.win32_dir, "vimbrel-%s-win32.zip" % VERSION)
    with zipfile.ZipFile(path) as z:
        names = sorted(z.namelist())
        check(names == ["README.txt", "vimbrel.exe"], "the zip holds %s" % names)
        with open(os.path.join(desktop.win32_dir, "vimbrel.exe"), "rb") as f:
            check(z.read("vimbrel.exe") == f.read(), "the zip's vimbrel.exe differs from the built one")
        readme = z.read("README.txt").decode("utf-8-sig")
    check("vimbrel.exe" in readme and "注册表" in readme and "registry" in readme,
          "the read-me does not say how to start it and that it writes nothing")
