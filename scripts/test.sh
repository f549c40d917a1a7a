#!/usr/bin/env bash
# Builds both builds and runs every test: the core's unit tests and the end-to-end tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native "$@"
