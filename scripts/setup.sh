#!/usr/bin/env bash
# Installs what building and testing the keyboard needs on Debian 12; quick when all is there.
set -euo pipefail

packages=(
    cmake make g++ libgtest-dev libgmock-dev          # the portable core and its unit tests
    g++-mingw-w64-i686 binutils-mingw-w64-i686        # the 32-bit Windows build
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64    # and the 64-bit one
    wine wine32:i386 libxcursor1:i386                 # running them on Linux (full-colour pointers)
    wine64 libxcursor1                                #   where this machine runs no 32-bit code
    xvfb openbox xdotool x11-utils imagemagick        # a virtual desktop for the end-to-end tests
    libx11-6 libxfixes3                               # reading the pointer image from X
    fonts-wqy-microhei                                # Chinese captions under Wine
    python3 python3-pefile                            # the test driver and resource checks
    pkg-config libgtk-3-dev libxtst-dev               # the native keyboard for X11
    xfwm4 xfconf dbus-x11 xterm x11-xkb-utils         # its end-to-end tests: a second window manager, a real client, layouts,
    x11-xserver-utils libxi-dev                       #   monitors (xrandr), a second keyboard (XInput)
    python3-gi python3-pyatspi at-spi2-core           # and what screen readers see
    libgtk-layer-shell-dev libwayland-dev libxkbcommon-dev  # the native keyboard on Wayland: layer surface, virtual keyboard, keymap
    libwayland-bin                                    #   wayland-scanner, run by CMake for the protocols
    sway foot grim wtype xwayland x11-xserver-utils  # its end-to-end tests: a headless compositor, a client, screenshots, XWayland
    mutter xdg-desktop-portal xdg-desktop-portal-gnome  # and on GNOME: its compositor and the RemoteDesktop portal,
    pipewire wireplumber gstreamer1.0-pipewire gstreamer1.0-tools  #   the screen cast of its monitor to PNG
    dpkg-dev lintian desktop-file-utils appstream     # the .deb: its dependencies, checks of the package,
    libgtk-3-bin                                      #   its menu entry and metadata, and gtk-launch
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]}; run as root (or with sudo) to install them" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
