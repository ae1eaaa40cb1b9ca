#!/usr/bin/env bash
# Builds everything, then solves the bundled example instance and prints the summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
.venv/bin/python -m ploxa solve examples/shared_depot.json "$@"
