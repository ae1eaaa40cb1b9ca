import json

import pytest

import _pyploxa_core as core
from conftest import DATA, assert_refused, scattered
from route_check import route_problems


@pytest.mark.parametrize("name, agent_ids", [
    ("square.json", [0, 1]),            # min-max, node ids equal to positions
    ("sparse_ids.json", [30, 10, 20]),  # min-sum, sparse node and agent ids, an idle agent type
])
def test_instances_solve_feasibly_into_dictionaries_with_keys_in_order(name, agent_ids):
    document = json.loads((DATA / name).read_text())
    result = core.solve_json_file(input_path=str(DATA / name))
    assert (result["status"], result["statistics"]["method"]) == ("success", "search")
    assert route_problems(document, result) == []
    assert list(result) == ["status", "timeout", "routes", "statistics", "anytime", "stop_reason",
                            "unassigned"]
    assert list(result["statistics"]) == [
        "solve_time", "max_cost", "sum_cost", "n_generated", "n_expanded", "last_update_time",
        "method", "fixed_cost", "lost_prize"]
    assert all(list(step) == ["time", "max_cost", "sum_cost"] for step in result["anytime"])
    routes = result["routes"]
    assert [route["agent_id"] for route in routes] == agent_ids
    ids = [node["id"] for node in document["nodes"]]
    # every agent, idle ones included, reports a path from its start to its end
    assert all(list(route) == ["agent_id", "path", "cost", "node_ids", "start_time", "end_time",
                               "travel", "schedule"] and len(route["path"]) >= 2
               and route["node_ids"] == [ids[v] for v in route["path"]] for route in routes)
    costs = [route["cost"] for route in routes]
    assert result["statistics"]["max_cost"] == pytest.approx(max(costs))
    assert result["statistics"]["sum_cost"] == pytest.approx(sum(costs))


def test_no_agents_gives_failed_with_empty_routes_and_zero_costs():
    result = core.solve_json_str(json.dumps({"nodes": [{"id": 0, "x": 0, "y": 0}], "agents": []}))
    assert result["status"] == "failed"
    assert result["routes"] == [] and result["anytime"] == []
    assert result["statistics"]["max_cost"] == result["statistics"]["sum_cost"] == 0.0


@pytest.mark.parametrize("argument, budget", [
    ({}, 0.25),                    # the default keeps the instance's limit
    ({"time_limit": 0}, 0.25),     # zero keeps it too
    ({"time_limit": -3.5}, 0.25),  # so does any negative value
    ({"time_limit": 0.05}, 0.05),  # a positive value replaces it
])
def test_only_a_positive_time_limit_overrides_the_instance(argument, budget):
    # 40 targets cannot be searched exhaustively: the solve stops on its budget
    document = scattered(40)
    document["options"]["time_limit"] = 0.25
    result = core.solve_json_str(json.dumps(document), **argument)
    assert result["timeout"] is True
    assert budget <= result["statistics"]["solve_time"] < budget + 1.0


@pytest.mark.parametrize("read_file, text, message", [
    (False, '{"nodes": []}', r"^agents is missing$"),                     # no agents
    (True, None, r"^Cannot open file: .*input\.json$"),                    # no such file
    (True, "", "attempting to parse an empty input"),                      # an empty file
])
def test_bad_documents_and_files_raise_runtime_error(tmp_path, read_file, text, message):
    path = tmp_path / "input.json"
    if read_file and text is not None:
        path.write_text(text)
    with pytest.raises(RuntimeError, match=message):
        core.solve_json_file(str(path)) if read_file else core.solve_json_str(text)


@pytest.mark.parametrize("change, message", [
    (lambda d: d["nodes"][1].update(id=2**64),
     "nodes[1].id must be a whole number from 0 to 2^64 - 1, not 1.8446744073709552e+19"),
    (lambda d: d["nodes"][2].update(id=1), "duplicate node id 1 (nodes 1 and 2)"),
    (lambda d: d["agents"][1].update(id=0), "duplicate agent id 0 (agents 0 and 1)"),
    (lambda d: d["costs"]["bot"][2].__setitem__(3, -0.5),
     "cost matrix for agent type 'bot': row 2, column 3 is -0.5; costs must be finite"),
    (lambda d: d.update(constraints=[{"kind": "timewindow",
                                      "items": [{"node": 2, "start": 9, "end": 3}]}]),
     "time window of node 2: start 9 is after end 3"),
    (lambda d: d["agents"][0].update(max_length=2**33 + 5),  # used to wrap
     "agents[0].max_length must be a whole number within the signed 32-bit range, not 8589934597"),
    (lambda d: d["nodes"][4].update(y=1e300),  # its truncation to 64 bits is undefined
     "node 4: y = 1e+300 is not a finite number within the signed 64-bit range"),
    (lambda d: d.setdefault("options", {}).update(search="genetic"),
     'options.search must be "anneal", "population" or "auto", not "genetic"'),
    (lambda d: d.setdefault("options", {}).update(neighbours=0),
     "options.neighbours must be a whole number from 1 to 2^64 - 1, not 0"),
])
def test_invalid_instances_raise_value_errors_and_leave_the_module_usable(square, change, message):
    text = json.dumps(square)
    change(square)
    assert_refused(square, message)
    assert core.solve_json_str(text)["status"] == "success"


def test_accepted_but_unenforced_input_warns_once_each_on_standard_error(square, capfd):
    square["agents"].append({"id": 9, "type": "walker", "start_node": 0, "end_node": 0})
    square["nodes"][1]["demand"] = 2                # ignored demand
    square["options"] = {"objective": "maximize"}   # unknown objective
    square["constraints"] = [{"kind": "sequence", "precedence": [{"before": 1, "after": 2}]},
                             # the shared depot refuses the second agent's type
                             {"kind": "assignment", "items": [{"node": 0, "types": ["bot"]}]}]
    capfd.readouterr()
    core.solve_json_str(json.dumps(square), time_limit=1)
    warnings = [line for line in capfd.readouterr().err.splitlines()
                if line.startswith("[warning]") and "assignment" not in line]
    assert warnings == [
        '[warning] objective "maximize" is neither min_max nor min_sum: min_sum is used',
        "[warning] sequence constraints (1 pairs) are read but not enforced",
        "[warning] capacity and demand are read but not enforced",
        "[warning] agent type 'walker' has no cost matrix: every arc of it costs 9999 (no arc)",
        "[warning] agent 9 cannot end at its end_node 0, which does not allow its type 'walker'",
    ]


@pytest.mark.parametrize("agents, limit, ends", [
    (7, {"time_limit": 5}, ("success", False, "completed")),  # some agents stay at the depot
    (2, {"memory_limit": 1}, ("failed", True, "memory_limit")),  # as the time limit would
])
def test_the_search_ends_by_itself_or_on_its_memory_limit(square, agents, limit, ends):
    square["agents"] = [dict(square["agents"][0], id=k) for k in range(agents)]
    result = core.solve_json_str(json.dumps(square), **limit)
    assert (result["status"], result["timeout"], result["stop_reason"]) == ends
    assert result["status"] == "failed" or route_problems(square, result) == []


# Instances found by fuzzing, all with costs that break the triangle inequality: route merging
# emptied routes, fully or in part, so that what was left broke the agent's cost limit or the
# window at its end; the improvement stage kept going with a route it had emptied in breach of
# its cost limit, and with a cost of 1e300 its reversals cycled for ever.
@pytest.mark.parametrize("name", ["merge_breaks_cost_limit.json", "merge_breaks_end_window.json",
                                  "partial_merge_breaks_end_window.json",
                                  "emptied_route_breaks_cost_limit.json",
                                  "reversal_cycles_on_huge_cost.json"])
def test_instances_found_by_fuzzing_get_sound_routes_in_time(name):
    document = json.loads((DATA / "fuzz_findings" / name).read_text())
    result = core.solve_json_str(json.dumps(document), time_limit=2)
    assert result["stop_reason"] != "time_limit"
    assert result["status"] == "failed" or route_problems(document, result) == []


@pytest.mark.parametrize("call, argument, error, message", [
    (core.solve_json_str, {"seed": -1}, ValueError, "seed = -1 is negative"),  # negative count
    (core.solve_json_str, {"memory_limit": -1}, ValueError, "memory_limit = -1 is negative"),
    (core.solve_json_str, {"threads": 2**64}, ValueError, f"threads = {2**64} is above 2**64 - 1"),
    (core.solve_json_str, {"seed": 1.5}, TypeError,
     "seed must be a whole number or None, not float"),
    (core.solve_json_str, {"threads": True}, TypeError,
     "threads must be a whole number or None, not bool"),
    (core.solve_json_str, {"improve": "yes"}, TypeError,
     "improve must be True, False or None, not str"),
    (core.solve_json_str, {"time_limit": "10"}, TypeError, "time_limit must be a number, not str"),
    (core.check_json_str, {"enforce_sequence": "yes"}, TypeError,
     "enforce_sequence must be True, False or None, not str"),
])
def test_bad_keyword_arguments_raise_one_error_naming_the_option(square, call, argument, error,
                                                                 message):
    with pytest.raises(error) as raised:
        call(json.dumps(square), **argument)
    assert str(raised.value).startswith(message)
    assert '"nodes"' not in str(raised.value)  # never the instance text
