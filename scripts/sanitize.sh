#!/usr/bin/env bash
# Builds the C++ tests with the address and undefined-behaviour sanitizers in build-sanitize/
# and runs them; any sanitizer report fails the run. Needs the environment of setup_env.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATH="$PWD/.venv/bin:$PATH"
PYTHON="$PWD/.venv/bin/python"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=ON -DPLOXA_SANITIZE=ON -DPLOXA_WERROR=ON \
    -DPython_EXECUTABLE="$PYTHON" -Dpybind11_DIR="$("$PYTHON" -m pybind11 --cmakedir)" >/dev/null
cmake --build build-sanitize --target ploxa_tests
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-sanitize --output-on-failure \
    | grep -v -E '^ +Start |Passed +[0-9.]+ sec$'
