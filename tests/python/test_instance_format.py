"""The README's reference of the instance format lists exactly the keys the loader reads."""
import pathlib
import re

import _pyploxa_core as core

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
ROW = re.compile(r"^\| (top level|`[^`]+`) \| `([a-z_]+)` \|")


def test_the_format_reference_lists_every_key_the_loader_reads_and_no_other():
    section = README.read_text().split("## Instance format", 1)[1].split("\n## ", 1)[0]
    listed: dict[str, list[str]] = {}
    for line in section.splitlines():
        if found := ROW.match(line):
            place = "" if found[1] == "top level" else found[1].strip("`")
            listed.setdefault(place, []).append(found[2])
    assert all(len(keys) == len(set(keys)) for keys in listed.values())
    assert {place: set(keys) for place, keys in listed.items()} == {
        place: set(keys) for place, keys in core.instance_keys().items()}
