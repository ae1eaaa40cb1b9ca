#!/usr/bin/env bash
# Builds everything, installs the peer solver, builds the first complete version of the core
# module (the speed baseline) from the repository's history into build-baseline/, and runs the
# quality and throughput benchmarks (about 20 minutes with the default 10-second budget), then
# the short run of the large instances.
# Arguments go to the benchmark script, for example --budget 5 or --only throughput.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
.venv/bin/python -m pip install -q --disable-pip-version-check "ortools>=9.10" "pyvrp>=0.9" "vrplib>=2.0"

baseline=$(.venv/bin/python -c 'import sys; sys.path.insert(0, "benchmarks"); import run_benchmarks as b; print(b.BASELINE_COMMIT)')
if ! ls build-baseline/_pyploxa_core*.so > /dev/null 2>&1; then
  rm -rf build-baseline
  mkdir -p build-baseline/source
  git archive "$baseline" | tar -x -C build-baseline/source
  .venv/bin/cmake -S build-baseline/source -B build-baseline -G Ninja -DBUILD_TESTING=OFF \
    -DCMAKE_MAKE_PROGRAM="$PWD/.venv/bin/ninja" \
    -DPython_EXECUTABLE="$PWD/.venv/bin/python" \
    -Dpybind11_DIR="$(.venv/bin/python -m pybind11 --cmakedir)"
  .venv/bin/cmake --build build-baseline --target _pyploxa_core
fi
.venv/bin/python benchmarks/run_benchmarks.py --peer --baseline-module build-baseline \
  --baseline-commit "$baseline" "$@"
# The short run of the large instances (a few minutes); its --large flag runs the whole set.
.venv/bin/python benchmarks/large_instances.py --peer
# Capacities and pick-ups with deliveries against both peers (about 6 minutes).
.venv/bin/python benchmarks/loads_and_order.py
