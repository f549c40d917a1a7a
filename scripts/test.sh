#!/usr/bin/env bash
# Builds everything and runs every test: the core's unit tests under the
# sanitizers, then the unit tests and the end-to-end tests of the native keyboard
# (each on X servers of its own) and of the Windows build under Wine (the build
# this machine runs: session.py says which, and why).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ctest --preset native-asan
ctest --preset native "$@"
