import json

import pytest

import _pyploxa_core as core


def misspell(instance, place, key, value):
    """Adds `key` to the object at `place` (a list of keys and indexes from the top)."""
    target = instance
    for step in place:
        target = target[step]
    target[key] = value


def unknown(key, where, guess=None):
    return f"unknown key '{key}' {where} is ignored" + (f"; did you mean '{guess}'?" if guess else "")


@pytest.mark.parametrize("place, key, value, lines", [
    ([], "constraint", [], [unknown("constraint", "at the top level", "constraints")]),
    (["agents", 1], "capacity_limit", 9, [unknown("capacity_limit", "in agents[1]", "capacity")]),
    (["options"], "time_limt", 3, [unknown("time_limt", "in options", "time_limit")]),
    (["constraints", 0], "itmes", [], [unknown("itmes", "in constraints[0]", "items")]),
    (["constraints", 0, "items", 1], "typs", [],
     [unknown("typs", "in constraints[0].items[1]", "types")]),
    (["constraints"], 1, {"kind": "sequence", "items": [{"before": 1, "after": 2}]},
     ["constraints[1] is skipped: its kind 'sequence' needs the key 'precedence'",
      unknown("items", "in constraints[1]", "precedence")]),
    (["constraints"], 1, {"kind": "time_window", "items": []},
     ["constraints[1] is skipped: its kind 'time_window' is not known; did you mean "
      "'timewindow'?"]),
    (["constraints"], 1, {"kind": "timewindow",
                          "items": [{"node": 1, "start": 0, "end": 5, "window": [[0, 5]]}]},
     [unknown("window", "in constraints[1].items[0]", "windows")]),
])
def test_each_unread_key_and_skipped_constraint_gets_one_warning_naming_it(
        square, place, key, value, lines):
    if isinstance(key, int):
        square["constraints"].append(value)
    else:
        misspell(square, place, key, value)
    unread = [message for kind, message in core.check_json_str(json.dumps(square))
              if kind == "warning" and ("unknown key" in message or "skipped" in message)]
    assert unread == lines

