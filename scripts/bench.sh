#!/usr/bin/env bash
# Builds both builds, then measures each keyboard against its floor program on a
# virtual display of its own (vimbrel.exe under Wine, then the native keyboard
# without it) and prints a table for each (bench/run_bench.py).
# Arguments go to run_bench.py: --rounds N, --idle-seconds S, --only win32|native, --samples.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
exec /usr/bin/python3 bench/run_bench.py "$@"
