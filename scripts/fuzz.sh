#!/usr/bin/env bash
# Fuzzes solve_json_str and the object API with the seed corpus in tests/fuzz/corpus; the
# arguments go to the fuzzer (e.g. -runs=3000). New inputs go to a scratch folder, so the
# corpus in the repository stays as it is. Installs the fuzzer (the "fuzz" extra) if needed.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! .venv/bin/python -c 'import atheris' 2>/dev/null; then
    .venv/bin/python -m pip install -q --disable-pip-version-check "atheris==3.1.0"
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# Inputs that break the harness are kept here (and printed in the log).
mkdir -p build-fuzz
.venv/bin/python tests/fuzz/fuzz_solve.py -artifact_prefix=build-fuzz/ "$@" "$scratch" tests/fuzz/corpus
