#!/usr/bin/env bash
# Builds everything, then runs every C++ and Python test, the C++ tests again under the
# address and undefined-behaviour sanitizers, and a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
.venv/bin/python -m pip install -q --disable-pip-version-check -r requirements-extras.txt
# One line per failing test plus the summary; pipefail keeps ctest's exit status.
PATH="$PWD/.venv/bin:$PATH" ctest --test-dir build --output-on-failure | grep -v -E '^ +Start |Passed +[0-9.]+ sec$'
.venv/bin/python -m pytest "$@"
bash scripts/sanitize.sh
bash scripts/fuzz.sh -runs=3000
