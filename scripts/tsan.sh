#!/usr/bin/env bash
# Builds the C++ tests with the thread sanitizer in build-tsan/ and runs the tests of the
# threaded improvement stage; any report fails the run. Needs the environment of setup_env.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATH="$PWD/.venv/bin:$PATH"
PYTHON="$PWD/.venv/bin/python"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=ON -DPLOXA_TSAN=ON -DPLOXA_WERROR=ON \
    -DPython_EXECUTABLE="$PYTHON" -Dpybind11_DIR="$("$PYTHON" -m pybind11 --cmakedir)" >/dev/null
cmake --build build-tsan --target ploxa_tests
# Reports go to files, since the tests capture the solver's standard error; any fails the run.
rm -f build-tsan/report.*
export TSAN_OPTIONS="halt_on_error=1:log_path=$PWD/build-tsan/report"
if ! ctest --test-dir build-tsan --output-on-failure -R 'InThreads' \
    | grep -v -E '^ +Start |Passed +[0-9.]+ sec$'; then
    cat build-tsan/report.* 2>/dev/null || true
    exit 1
fi
