#!/usr/bin/env bash
# Builds everything, then runs every C++ and Python test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
PATH="$PWD/.venv/bin:$PATH" ctest --test-dir build --output-on-failure
.venv/bin/python -m pytest "$@"
