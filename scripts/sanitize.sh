#!/usr/bin/env bash
# Builds the C++ tests with sanitizers and runs them; any sanitizer report fails the run.
# Without an argument: the address and undefined-behaviour sanitizers over every test, in
# build-sanitize/, built on the portable code path (PLOXA_PORTABLE), so that the same tests,
# golden answers included, show that path compiles and answers alike. With "thread": the thread sanitizer over the tests of the threaded
# improvement stage, in build-tsan/. Needs the environment of setup_env.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATH="$PWD/.venv/bin:$PATH"
PYTHON="$PWD/.venv/bin/python"
if [ "${1:-}" = thread ]; then
    dir=build-tsan option=PLOXA_TSAN filter=InThreads portable=OFF
    # Reports go to files, since the tests capture the solver's standard error.
    rm -f "$dir"/report.*
    export TSAN_OPTIONS="halt_on_error=1:log_path=$PWD/$dir/report"
else
    dir=build-sanitize option=PLOXA_SANITIZE filter=. portable=ON
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=ON -D"$option"=ON -DPLOXA_PORTABLE="$portable" -DPLOXA_WERROR=ON \
    -DPython_EXECUTABLE="$PYTHON" -Dpybind11_DIR="$("$PYTHON" -m pybind11 --cmakedir)" >/dev/null
cmake --build "$dir" --target ploxa_tests
if ! ctest --test-dir "$dir" --output-on-failure -R "$filter" \
    | grep -v -E '^ +Start |Passed +[0-9.]+ sec$'; then
    cat "$dir"/report.* 2>/dev/null || true
    exit 1
fi
