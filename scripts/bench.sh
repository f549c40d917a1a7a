#!/usr/bin/env bash
# Builds both builds, then measures the keyboard against the floor program under
# Wine on a virtual display of its own and prints the table (bench/run_bench.py).
# Arguments go to run_bench.py: --rounds N, --idle-seconds S, --samples.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
exec /usr/bin/python3 bench/run_bench.py "$@"
