#!/usr/bin/env bash
# Builds the keyboard and starts it on the current display: the native X11
# keyboard, or with --wine the Windows build under Wine.
# --virtual: on a virtual display of its own (for machines without one); a
# screenshot is written to build/keyboard.png and the keyboard runs until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
virtual=0
wine=0
for arg in "$@"; do
    case "$arg" in
    --virtual) virtual=1 ;;
    --wine) wine=1 ;;
    *) echo "usage: bash scripts/start.sh [--wine] [--virtual]" >&2; exit 2 ;;
    esac
done
bash scripts/setup.sh
if [ "$wine" -eq 1 ]; then
    # The 32-bit build where this machine runs 32-bit code, else the 64-bit one
    # under wine64 (VIMBREL_WINE_ARCH=win32|win64 chooses).
    arch=$(/usr/bin/python3 tests/e2e/session.py arch)
    cmake --preset "$arch" >/dev/null
    cmake --build --preset "$arch"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wine_loader=wine
    if [ "$arch" = win64 ]; then
        wine_loader=/usr/lib/wine/wine64
        export WINEARCH=win64 WINELOADER=$wine_loader
    fi
    keyboard=("$wine_loader" "$PWD/build/$arch/vimbrel.exe")
else
    cmake --preset native >/dev/null
    cmake --build --preset native --target vimbrel
    keyboard=("$PWD/build/native/vimbrel")
fi

# Menus, message boxes and tooltips use Wine's interface fonts, which have no
# Chinese glyphs: link them to the CJK font, once per Wine prefix.
link_cjk_font() {
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    "$wine_loader" reg query "$key" /v Tahoma 2>/dev/null | grep -q wqy && return 0
    for face in Tahoma "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI"; do
        "$wine_loader" reg add "$key" /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
    done
}

if [ "$virtual" -eq 0 ]; then
    if [ -z "${DISPLAY:-}" ]; then
        echo "start: no DISPLAY; use --virtual to run on a virtual display" >&2
        exit 1
    fi
    [ "$wine" -eq 1 ] && link_cjk_font
    exec "${keyboard[@]}"
fi

work=$(mktemp -d)
pids=()
cleanup() {
    [ "$wine" -eq 1 ] && { WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; }
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
pids+=($!)
exec 3>&-
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
unset WAYLAND_DISPLAY
openbox >/dev/null 2>&1 &
pids+=($!)
if [ "$wine" -eq 1 ]; then
    export WINEPREFIX="$work/prefix"
    "$wine_loader" wineboot -i >/dev/null 2>&1
    link_cjk_font
fi
echo "start: keyboard running on virtual display $DISPLAY (Ctrl-C ends it)"
"${keyboard[@]}" &
pids+=($!)
sleep 4
import -window root build/keyboard.png && echo "start: screenshot in build/keyboard.png"
wait "${pids[-1]}"
