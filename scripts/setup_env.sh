#!/usr/bin/env bash
# Creates .venv with Python 3.12 and installs every build and test dependency:
# Debian's libgtest-dev for the C++ tests, the rest from PyPI.
set -euo pipefail
cd "$(dirname "$0")/.."

is_python312() {
    "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))' >/dev/null 2>&1
}

find_python312() {
    local candidates=(python3.12)
    if command -v pyenv >/dev/null 2>&1; then
        candidates+=("$(pyenv root)"/versions/3.12*/bin/python3.12)
    fi
    candidates+=(/usr/local/bin/python3.12 /usr/bin/python3.12)
    for candidate in "${candidates[@]}"; do
        if is_python312 "$candidate"; then
            command -v "$candidate"
            return 0
        fi
    done
    echo "error: no Python 3.12 interpreter found (tried: ${candidates[*]})" >&2
    return 1
}

install_gtest() {
    dpkg -s libgtest-dev >/dev/null 2>&1 && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq libgtest-dev
}

install_gtest
if [ ! -x .venv/bin/python ] || ! is_python312 .venv/bin/python; then
    rm -rf .venv
    "$(find_python312)" -m venv .venv
fi
.venv/bin/python -m pip install -q --disable-pip-version-check -r requirements-dev.txt
