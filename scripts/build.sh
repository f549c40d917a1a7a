#!/usr/bin/env bash
# Installs what is missing, then builds everything: both Windows builds (the
# 32-bit product and the 64-bit one, with their test and benchmark helpers), the
# optimised native keyboard with its tests, and the core's tests under the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for preset in win32 win64 native native-asan; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
