#!/usr/bin/env bash
# Builds everything, then imports the module and shows the bundled example instance.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
.venv/bin/python - <<'PY'
import json
import _pyploxa_core as core

print(core.__doc__)
with open("examples/shared_depot.json") as f:
    instance = json.load(f)
print(f"examples/shared_depot.json: {len(instance['nodes'])} nodes, "
      f"{len(instance['agents'])} agents")
PY
