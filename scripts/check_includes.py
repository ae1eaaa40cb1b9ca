"""Fails when a source file includes a header from a folder above its own.

The folders under src/ form layers; a file may include headers of its own folder and of the
layers below it, never of its own layer's other folders or of a layer above:

    model, graph -> records -> plugins, postopt -> improve -> solver -> api -> bindings
"""

import re
import sys
from pathlib import Path

LAYERS = {"model": 0, "graph": 0, "records": 1, "plugins": 2, "postopt": 2, "improve": 3,
          "solver": 4, "api": 5, "bindings": 6}
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
