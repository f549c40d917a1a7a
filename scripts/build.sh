#!/usr/bin/env bash
# Installs what is missing, then builds both builds: the Windows exe and the native one with its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake --preset native >/dev/null
cmake --build --preset native
