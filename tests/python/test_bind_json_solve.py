import json

import pytest

import _pyploxa_core as core
from route_check import route_problems


@pytest.fixture
def square(data_dir):
    return (data_dir / "square.json").read_text()


def solve_text(document, **kwargs):
    return core.solve_json_str(json.dumps(document), **kwargs)


class TestResultDictionary:
    def test_has_its_keys_in_order(self, square):
        result = core.solve_json_str(square)
        assert list(result) == ["status", "timeout", "routes", "statistics", "anytime"]
        assert list(result["routes"][0]) == ["agent_id", "path", "cost"]
        assert list(result["statistics"]) == [
            "solve_time", "max_cost", "sum_cost", "n_generated", "n_expanded", "last_update_time"]
        assert all(list(step) == ["time", "max_cost", "sum_cost"] for step in result["anytime"])

    def test_square_is_solved_optimally_and_feasibly(self, square):
        result = core.solve_json_str(square)
        assert result["status"] == "success"
        assert route_problems(json.loads(square), result) == []
        # each agent serves two adjacent corners: 2 * sqrt(8) + 4
        assert result["statistics"]["max_cost"] == pytest.approx(2 * 8 ** 0.5 + 4, abs=1e-5)
        costs = [route["cost"] for route in result["routes"]]
        assert result["statistics"]["sum_cost"] == pytest.approx(sum(costs))

    def test_anytime_lists_strict_improvements_only(self, square):
        result = core.solve_json_str(square)
        scores = [step["max_cost"] for step in result["anytime"]]
        assert scores and all(a > b for a, b in zip(scores, scores[1:]))
        assert scores[-1] == pytest.approx(result["statistics"]["max_cost"])

    def test_routes_follow_agent_order_for_sparse_ids(self, data_dir):
        document = json.loads((data_dir / "sparse_ids.json").read_text())
        result = core.solve_json_file(str(data_dir / "sparse_ids.json"))
        assert [route["agent_id"] for route in result["routes"]] == [30, 10, 20]
        assert route_problems(document, result) == []
        served = [route["path"][1:-1] for route in result["routes"]]
        assert sorted(v for path in served for v in path) == [1, 2, 3, 4]

    def test_idle_agents_report_zero_and_do_not_raise_the_maximum(self, data_dir):
        result = core.solve_json_file(str(data_dir / "sparse_ids.json"))
        idle = result["routes"][2]
        assert result["status"] == "success"
        assert idle["path"] == [0, 0] and idle["cost"] == 0.0
        busy = max(route["cost"] for route in result["routes"][:2])
        assert result["statistics"]["max_cost"] == busy

    def test_no_agents_gives_failed_with_empty_routes(self):
        result = solve_text({"nodes": [{"id": 0, "x": 0, "y": 0}], "agents": []})
        assert result["status"] == "failed"
        assert result["routes"] == [] and result["anytime"] == []
        assert result["statistics"]["max_cost"] == result["statistics"]["sum_cost"] == 0.0


class TestTimeLimit:
    @pytest.mark.parametrize("argument, budget", [
        ({}, 0.25),                    # default -1 keeps the instance's limit
        ({"time_limit": 0}, 0.25),     # zero keeps it too
        ({"time_limit": -3.5}, 0.25),  # so does any negative value
        ({"time_limit": 0.05}, 0.05),  # a positive value replaces it
    ])
    def test_positive_values_override_the_instance(self, argument, budget):
        # 40 targets cannot be searched exhaustively: the solve stops on its budget
        nodes = [{"id": i, "x": (i * 37) % 101, "y": (i * 53) % 97} for i in range(40)]
        matrix = [[abs(a["x"] - b["x"]) + abs(a["y"] - b["y"]) for b in nodes] for a in nodes]
        document = {"nodes": nodes, "costs": {"t": matrix},
                    "agents": [{"id": k, "type": "t", "start_node": 0, "end_node": 0} for k in range(3)],
                    "constraints": [{"kind": "assignment",
                                     "items": [{"node": i, "types": ["t"]} for i in range(40)]}],
                    "options": {"time_limit": 0.25, "objective": "min_max"}}
        result = solve_text(document, **argument)
        assert result["timeout"] is True
        assert budget <= result["statistics"]["solve_time"] < budget + 1.0

    def test_default_is_minus_one(self):
        assert "time_limit: typing.SupportsFloat | typing.SupportsIndex = -1" in core.solve_json_str.__doc__


class TestInput:
    def test_bytes_are_accepted(self, square):
        assert core.solve_json_str(square.encode())["status"] == "success"

    @pytest.mark.parametrize("text, message", [
        ('{"nodes": [], /* note */ "agents": []}', "parse_error.101"),     # comment
        ('{"nodes": [], "agents": []} x', "parse_error.101"),              # trailing text
        ("", "attempting to parse an empty input"),                        # empty text
        ('{"nodes": []}', r"\[json.exception.out_of_range.403\] key 'agents' not found"),
        ('{"nodes": [], "agents": [], "options": []}', "cannot use value\\(\\) with array"),
    ])
    def test_bad_documents_raise_runtime_error(self, text, message):
        with pytest.raises(RuntimeError, match=message):
            core.solve_json_str(text)

    def test_missing_file(self, tmp_path):
        path = str(tmp_path / "absent.json")
        with pytest.raises(RuntimeError, match=f"^Cannot open file: {path}$"):
            core.solve_json_file(input_path=path)

    def test_empty_file(self, tmp_path):
        (tmp_path / "empty.json").write_text("")
        with pytest.raises(RuntimeError, match="attempting to parse an empty input"):
            core.solve_json_file(str(tmp_path / "empty.json"))

    @pytest.mark.parametrize("change, error, message", [
        # more nodes than the search can hold
        (lambda d: d["nodes"].extend({"id": 100 + i, "x": 0, "y": 0} for i in range(300)),
         ValueError, "the instance has 305 nodes, but the solver handles at most 256"),
        # an unknown start node id
        (lambda d: d["agents"][0].update(start_node=77), IndexError,
         "agent 0 has start_node 77, which is no node id"),
        # an oversized matrix row
        (lambda d: d["costs"]["bot"][1].extend([1, 2]), ValueError,
         "has a row of 7 entries \\(row 1\\), but the problem has 5 nodes"),
    ])
    def test_invalid_instances_raise_clear_errors(self, square, change, error, message):
        document = json.loads(square)
        change(document)
        with pytest.raises(error, match=message):
            solve_text(document)
        assert core.solve_json_str(square)["status"] == "success"
