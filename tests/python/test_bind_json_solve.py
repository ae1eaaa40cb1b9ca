import json

import pytest

import _pyploxa_core as core
from route_check import route_problems


@pytest.fixture
def square(data_dir):
    return (data_dir / "square.json").read_text()


@pytest.mark.parametrize("name, agent_ids", [
    ("square.json", [0, 1]),            # min-max, node ids equal to positions
    ("sparse_ids.json", [30, 10, 20]),  # min-sum, sparse node and agent ids, an idle agent type
])
def test_instances_solve_feasibly_into_dictionaries_with_keys_in_order(data_dir, name, agent_ids):
    result = core.solve_json_file(input_path=str(data_dir / name))
    assert result["status"] == "success"
    assert list(result) == ["status", "timeout", "routes", "statistics", "anytime"]
    assert all(list(route) == ["agent_id", "path", "cost"] for route in result["routes"])
    assert list(result["statistics"]) == [
        "solve_time", "max_cost", "sum_cost", "n_generated", "n_expanded", "last_update_time"]
    assert all(list(step) == ["time", "max_cost", "sum_cost"] for step in result["anytime"])
    assert route_problems(json.loads((data_dir / name).read_text()), result) == []
    assert [route["agent_id"] for route in result["routes"]] == agent_ids
    # every agent, idle ones included, reports a path from its start to its end
    assert all(len(route["path"]) >= 2 for route in result["routes"])
    costs = [route["cost"] for route in result["routes"]]
    assert result["statistics"]["max_cost"] == pytest.approx(max(costs))
    assert result["statistics"]["sum_cost"] == pytest.approx(sum(costs))


def test_square_improves_strictly_over_time_to_its_optimum(square):
    result = core.solve_json_str(square)
    scores = [step["max_cost"] for step in result["anytime"]]
    assert scores and all(a > b for a, b in zip(scores, scores[1:]))
    assert scores[-1] == pytest.approx(result["statistics"]["max_cost"])
    # each agent serves two adjacent corners
    assert scores[-1] == pytest.approx(2 * 8 ** 0.5 + 4, abs=1e-5)


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
    nodes = [{"id": i, "x": (i * 37) % 101, "y": (i * 53) % 97} for i in range(40)]
    matrix = [[abs(a["x"] - b["x"]) + abs(a["y"] - b["y"]) for b in nodes] for a in nodes]
    agents = [{"id": k, "type": "t", "start_node": 0, "end_node": 0} for k in range(3)]
    document = {"nodes": nodes, "costs": {"t": matrix}, "agents": agents,
                "options": {"time_limit": 0.25, "objective": "min_max"}}
    result = core.solve_json_str(json.dumps(document), **argument)
    assert result["timeout"] is True
    assert budget <= result["statistics"]["solve_time"] < budget + 1.0


@pytest.mark.parametrize("read_file, text, message", [
    (False, '{"nodes": [], /* note */ "agents": []}', "parse_error.101"),  # comment
    (False, '{"nodes": [], "agents": []} x', "parse_error.101"),           # trailing text
    (False, "", "attempting to parse an empty input"),                     # empty text
    # no agents, then options that are not an object
    (False, '{"nodes": []}', r"\[json.exception.out_of_range.403\] key 'agents' not found"),
    (False, '{"nodes": [], "agents": [], "options": []}', r"cannot use value\(\) with array"),
    (True, None, r"^Cannot open file: .*input\.json$"),                    # no such file
    (True, "", "attempting to parse an empty input"),                      # an empty file
])
def test_bad_documents_and_files_raise_runtime_error(tmp_path, read_file, text, message):
    path = tmp_path / "input.json"
    if read_file and text is not None:
        path.write_text(text)
    with pytest.raises(RuntimeError, match=message):
        core.solve_json_file(str(path)) if read_file else core.solve_json_str(text)


@pytest.mark.parametrize("change, error, message", [
    # more nodes than the search can hold
    (lambda d: d["nodes"].extend({"id": 100 + i, "x": 0, "y": 0} for i in range(300)),
     ValueError, "the instance has 305 nodes, but the solver handles at most 256"),
    # an unknown start node id
    (lambda d: d["agents"][0].update(start_node=77), IndexError,
     "agent 0 has start_node 77, which is no node id"),
    # an oversized matrix row
    (lambda d: d["costs"]["bot"][1].extend([1, 2]), ValueError,
     r"has a row of 7 entries \(row 1\), but the problem has 5 nodes"),
])
def test_invalid_instances_raise_clear_errors_and_leave_the_module_usable(square, change, error,
                                                                           message):
    document = json.loads(square)
    change(document)
    with pytest.raises(error, match=message):
        core.solve_json_str(json.dumps(document))
    assert core.solve_json_str(square)["status"] == "success"
