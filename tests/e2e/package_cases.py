#!/usr/bin/python3
"""End-to-end cases of the downloads, run by e2e.py: the Debian package of the
native keyboard, installed for real and removed again where that cannot harm the
machine (otherwise unpacked), and the Windows zips."""

import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session as sessionlib  # noqa: E402
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


def installed_vimbrel():
    return run("dpkg-query", "-W", "-f=${Status}", "vimbrel").stdout.endswith("installed")


def case_native_package(desktop):
    """cpack's .deb passes lintian (no hardening tag either), desktop-file-validate and
    appstreamcli; its menu entry (gtk-launch) starts the keyboard from another folder,
    which types and shows its finger pointer. As root, on a machine without vimbrel,
    it is installed with apt-get and removed again, leaving none of its files; anywhere
    else it is unpacked into a folder of its own, so that a vimbrel the machine had is
    never replaced or removed."""
    build = os.environ.get("VIMBREL_NATIVE_BUILD", os.path.join(SOURCE_DIR, "build", "native"))
    deb = cpack(build, "vimbrel_%s_amd64.deb" % VERSION)
    tags = [line for line in run("lintian", "-I", deb).stdout.splitlines()
            if line.startswith("E:") or "hardening" in line]
    check(not tags, "lintian: %s" % tags)
    install = os.geteuid() == 0 and not installed_vimbrel()
    print("package: %s" % ("installed with apt-get, then removed (root, no vimbrel installed)" if install else
                           "unpacked into a folder of its own (%s)" % (
                               "vimbrel is installed here" if os.geteuid() == 0 else "not root")))
    with tempfile.TemporaryDirectory() as root:
        if install:
            installed = run("apt-get", "install", "-y", "--reinstall", "-q", deb)
            check(installed.returncode == 0, "apt-get install failed:\n%s" % installed.stderr)
            root = "/"
        else:
            unpacked = run("dpkg-deb", "-x", deb, root)
            check(unpacked.returncode == 0, "dpkg-deb -x failed:\n%s" % unpacked.stderr)
        files = []
        try:
            listing = run("dpkg-deb", "-c", deb).stdout.splitlines()
            files = [os.path.join(root, line.split()[-1].lstrip("./")) for line in listing
                     if line.startswith("-")]
            try_package(desktop, root, files)
        finally:
            if install:
                removed = run("apt-get", "remove", "--purge", "-y", "-q", "vimbrel")
        if install:
            check(removed.returncode == 0, "apt-get remove failed:\n%s" % removed.stderr)
            left = [f for f in files if os.path.lexists(f)]
            check(not left, "left behind: %s" % left)
            check(not installed_vimbrel(), "dpkg still lists vimbrel")


def try_package(desktop, root, files):
    """The package's files under root, checked and started as the desktop starts them."""
    usr = os.path.join(root, "usr")
    binary = os.path.join(usr, "bin", "vimbrel")
    check(binary in files and os.path.join(usr, "share/icons/hicolor/48x48/apps/vimbrel.png") in files,
          "the package holds %s" % files)
    for argv in (("desktop-file-validate", os.path.join(usr, "share/applications/vimbrel.desktop")),
                 ("appstreamcli", "validate", "--no-net", os.path.join(usr, "share/metainfo/vimbrel.metainfo.xml"))):
        done = run(*argv)
        check(done.returncode == 0, "%s: %s%s" % (argv[0], done.stdout, done.stderr))
    # An unpacked package is found as an installed one is: its programs on PATH, its entries in XDG_DATA_DIRS.
    where = {} if root == "/" else {"PATH": os.path.join(usr, "bin") + os.pathsep + os.environ.get("PATH", ""),
                                    "XDG_DATA_DIRS": os.path.join(usr, "share") + os.pathsep + "/usr/share"}
    with Native(desktop, "native_package") as n, tempfile.TemporaryDirectory() as elsewhere:
        n.start_keyboard(argv=["gtk-launch", "vimbrel"], cwd=elsewhere, **where)
        n.start_target()
        n.click(("SKB", 65))
        check(brief(n.key_events(2)) == "+a/0x0 -a/0x0", "the target received %s" % brief(n.key_events(2)))
        icon = read_icon(os.path.join(SOURCE_DIR, "assets", "finger_left_index.ico"))
        n.run("xdotool", "mousemove", *n.point(("SKB", 70)))
        wait_for("the left index finger over F", lambda: icon_pointer_problem(
            icon, read_pointer(n.env["DISPLAY"])) is None, timeout=3)
        running = [pid for pid in run("pgrep", "-x", "vimbrel").stdout.split()
                   if os.path.realpath("/proc/%s/exe" % pid) == binary]
        check(running, "no keyboard runs from %s" % binary)
        for pid in running:
            os.kill(int(pid), 15)


def case_windows_packages(desktop):
    """cpack's zip of each Windows build (win32, win64) holds exactly vimbrel.exe, byte
    for byte the built one, and README.txt."""
    for arch in sessionlib.WINE_ARCHES:
        build = sessionlib.build_dir(arch)
        path = cpack(build, "vimbrel-%s-%s.zip" % (VERSION, arch))
        with zipfile.ZipFile(path) as z:
            names = sorted(z.namelist())
            check(names == ["README.txt", "vimbrel.exe"], "the %s zip holds %s" % (arch, names))
            with open(os.path.join(build, "vimbrel.exe"), "rb") as f:
                check(z.read("vimbrel.exe") == f.read(), "the %s zip's vimbrel.exe differs from the built one" % arch)
            readme = z.read("README.txt").decode("utf-8-sig")
        check("vimbrel.exe" in readme and "注册表" in readme and "registry" in readme,
              "the %s read-me does not say how to start it and that it writes nothing" % arch)
