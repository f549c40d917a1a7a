#!/usr/bin/env bash
# Builds both builds and runs every test: the unit tests, and the end-to-end tests of the
# native keyboard (each on X servers of its own) and of the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ctest --preset native "$@"
