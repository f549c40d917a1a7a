#!/usr/bin/python3
"""Checks the identity that vimbrel.exe carries: version block, icons, manifest,
and that it is a static Windows GUI program of at most 128 KiB for the machine
its build names (win32: x86, win64: x86-64).

    check_exe.py EXE ASSETS_DIR win32|win64 VERSION VERSION_STRING

VERSION is the project's version, VERSION_STRING the form the version block's
strings take; CTest passes both from CMakeLists.txt.
"""
import os
import re
import sys

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "msvcrt.dll",
               "ole32.dll", "oleaut32.dll", "oleacc.dll", "advapi32.dll"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def resources(pe, type_id):
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id == type_id:
            return t.directory.entries
    return []


def resource_bytes(pe, entry):
    data = entry.directory.entries[0].data.struct
    return pe.get_data(data.OffsetToData, data.Size)


MACHINES = {"win32": 0x14C, "win64": 0x8664}


def main(exe, assets, build, version, version_string):
    size = os.path.getsize(exe)
    check(size <= 128 * 1024, f"exe is {size} bytes, more than 128 KiB")
    pe = pefile.PE(exe)
    check(pe.FILE_HEADER.Machine == MACHINES[build], f"machine 0x{pe.FILE_HEADER.Machine:x} is not {build}'s")
    check(pe.OPTIONAL_HEADER.Subsystem == 2, "not a Windows GUI program")
    imports = {e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT}
    check(imports <= SYSTEM_DLLS, f"imports non-system DLLs: {sorted(imports - SYSTEM_DLLS)}")

    # Fixed part of the version block: the project's version, Windows (VOS__WINDOWS32 on
    # either build), application.
    major, minor, patch, tweak = (int(part) for part in version.split("."))
    numbers = (major << 16 | minor, patch << 16 | tweak)
    ff = pe.VS_FIXEDFILEINFO[0]
    check((ff.FileVersionMS, ff.FileVersionLS) == numbers, f"file version is not {version}")
    check((ff.ProductVersionMS, ff.ProductVersionLS) == numbers, f"product version is not {version}")
    check(ff.FileOS == 4, f"FileOS is {ff.FileOS}, not VOS__WINDOWS32")
    check(ff.FileType == 1, f"FileType is {ff.FileType}, not VFT_APP")

    tables, translation = [], None
    for info in pe.FileInfo:
        for entry in info:
            if entry.Key == b"StringFileInfo":
                tables.extend(entry.StringTable)
            elif entry.Key == b"VarFileInfo":
                translation = entry.Var[0].entry.get(b"Translation")
    check(len(tables) == 1, f"{len(tables)} string tables, expected one")
    if tables:
        table = tables[0]
        check(table.LangID == b"080404B0", f"string table {table.LangID!r}, expected 080404B0")
        keys = [k.decode() for k in table.entries]
        check(keys == ["CompanyName", "LegalTrademarks", "ProductName", "FileVersion", "ProductVersion",
                       "InternalName", "OriginalFilename"], f"string keys in the wrong order: {keys}")
        values = {k.decode(): v.decode() for k, v in table.entries.items()}
        for key, expected in (("LegalTrademarks", "Vimbrel"), ("ProductName", "Vimbrel"),
                              ("FileVersion", version_string), ("ProductVersion", version_string)):
            check(values.get(key) == expected, f"{key} is {values.get(key)!r}, expected {expected!r}")
        check(values.get("OriginalFilename") == values.get("InternalName", "") + ".exe",
              "OriginalFilename is not the internal name followed by .exe")
        check(re.fullmatch(r"[a-z0-9.-]+\.[a-z]+", values.get("CompanyName", "")) is not None,
              "CompanyName is not a web domain")
    check(translation == "0x0804 0x04b0", f"translation {translation!r}, expected 0x0804 0x04b0")

    # Icons: the application icon (group 1) and the eleven pointers (101-111), byte for byte the asset files.
    groups = {e.id for e in resources(pe, RT_GROUP_ICON)}
    check(groups == {1, *range(101, 112)}, f"icon groups {sorted(groups)}")
    icon_images = sorted(resource_bytes(pe, e) for e in resources(pe, RT_ICON))
    files = sorted(f for f in os.listdir(assets) if f.endswith(".ico"))
    check(len(files) == 12, f"{len(files)} icon files in assets")
    expected_images = sorted(open(os.path.join(assets, f), "rb").read()[22:] for f in files)
    check(icon_images == expected_images, "icon images in the exe differ from the asset files")

    manifests = resources(pe, RT_MANIFEST)
    check(len(manifests) == 1 and manifests[0].id == 1, "no application manifest with id 1")
    if manifests:
        text = resource_bytes(pe, manifests[0]).decode("utf-8")
        check(f'version="{version}"' in text, f"manifest does not name version {version}")
        check("PerMonitorV2" in text and "true/pm" in text, "manifest does not declare per-monitor DPI awareness")
        check("8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a" in text, "manifest does not list Windows 10")
        # Plain system buttons: the common controls library is loaded only for the tooltips, on first use.
        check("Microsoft.Windows.Common-Controls" not in text, "manifest asks for common controls 6")

    for f in failures:
        print("FAIL:", f)
    print(f"exe resources ({build}): {size} bytes, {len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:6]))
