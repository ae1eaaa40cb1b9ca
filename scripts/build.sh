#!/usr/bin/env bash
# Builds the core library, the extension module and the C++ test program in build/,
# and installs the module into .venv. Rebuilds are incremental.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup_env.sh
.venv/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps \
    -Cbuild-dir=build -Ccmake.define.BUILD_TESTING=ON -Ccmake.define.PLOXA_WERROR=ON .
