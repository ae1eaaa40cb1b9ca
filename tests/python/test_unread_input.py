import json

import pytest

import _pyploxa_core as core


@pytest.fixture
def square(data_dir):
    return json.loads((data_dir / "square.json").read_text())


def misspell(instance, place, key, value):
    """Adds `key` to the object at `place` (a list of keys and indexes from the top)."""
    target = instance
    for step in place:
        target = target[step]
    target[key] = value


SEQUENCE_WITH_ITEMS = {"kind": "sequence", "items": [{"before": 1, "after": 2}]}


@pytest.mark.parametrize("place, key, value, lines", [
    ([], "constraint", [], ["unknown key 'constraint' at the top level is ignored; "
                            "did you mean 'constraints'?"]),
    ([], "comment", "mine", ["unknown key 'comment' at the top level is ignored"]),
    (["agents", 1], "capacity_limit", 9, ["unknown key 'capacity_limit' in agents[1] is "
                                          "ignored; did you mean 'capacity'?"]),
    (["options"], "time_limt", 3, ["unknown key 'time_limt' in options is ignored; "
                                   "did you mean 'time_limit'?"]),
    (["constraints", 0], "itmes", [], ["unknown key 'itmes' in constraints[0] is ignored; "
                                       "did you mean 'items'?"]),
    (["constraints", 0, "items", 1], "typs", [], ["unknown key 'typs' in "
                                                  "constraints[0].items[1] is ignored; did you "
                                                  "mean 'types'?"]),
    (["constraints"], 1, SEQUENCE_WITH_ITEMS,
     ["constraints[1] is skipped: its kind 'sequence' needs the key 'precedence'",
      "unknown key 'items' in constraints[1] is ignored; did you mean 'precedence'?"]),
    (["constraints"], 1, {"kind": "time_window", "items": []},
     ["constraints[1] is skipped: its kind 'time_window' is not known; did you mean "
      "'timewindow'?"]),
    (["constraints"], 1, {"kind": "timewindow",
                          "items": [{"node": 1, "start": 0, "end": 5, "window": [[0, 5]]}]},
     ["unknown key 'window' in constraints[1].items[0] is ignored; did you mean 'windows'?"]),
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


def test_a_solve_prints_the_warning_and_still_skips_what_it_does_not_read(square, capfd):
    square["constraints"].append(SEQUENCE_WITH_ITEMS)
    result = core.solve_json_str(json.dumps(square), enforce_sequence=True)
    assert result["status"] == "success"
    assert ("[warning] unknown key 'items' in constraints[1] is ignored; did you mean "
            "'precedence'?\n") in capfd.readouterr().err
