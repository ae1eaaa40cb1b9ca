"""Fails when a source file includes a header from a folder above its own.

The folders under src/ form layers; a file may include headers of its own folder and of the
layers below it, never of its own layer's other folders or of a layer above:

    base -> model, graph -> records -> route -> plugins, postopt -> improve -> solver -> api
    -> bindings
"""

import re
import sys
from pathlib import Path

LAYERS = {"base": 0, "model": 1, "graph": 1, "records": 2, "route": 3, "plugins": 4,
          "postopt": 4, "improve": 5, "solver": 6, "api": 7, "bindings": 8}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^/"]+)/[^"]+"', re.MULTILINE)


def violations(src):
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in LAYERS:
            found.append(f"{path}: folder {folder!r} has no layer")
            continue
        for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if target == folder:
                continue
            if target not in LAYERS or LAYERS[target] >= LAYERS[folder]:
                found.append(f"{path}: includes {target}/, which is not below {folder}/")
    return found


def main():
    src = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[1] / "src"
    found = violations(src)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
