#!/usr/bin/env bash
# Builds everything, installs the peer solver, and runs the quality and throughput benchmarks
# (about 15 minutes with the default 10-second budget). Arguments go to the benchmark script,
# for example --budget 5 or --only throughput.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
.venv/bin/python -m pip install -q --disable-pip-version-check "ortools>=9.10"
.venv/bin/python benchmarks/run_benchmarks.py --peer "$@"
