"""The leg into an agent's own start and end costs and counts the same in the route rules, the
search's moves and the window checker; the independent route checker decides."""

import pytest

from conftest import solve_checked
from route_check import route_problems

# Asymmetric costs that keep the triangle inequality; the leg 1 -> 2 costs nothing.
HOME = [[0, 1, 1, 1.5], [1, 0, 0, 2.5], [3, 2, 0, 4.5], [4, 3, 1, 0]]
TWO_DEPOTS = [[0, 1, 1, 3.5, 2], [1, 0, 0, 2.5, 1], [3, 2, 0, 2.5, 1], [4, 3, 1, 0, 2],
              [5.5, 4.5, 2.5, 1.5, 0]]
LINE = [[0, 1, 2, 1], [1, 0, 1, 2], [2, 1, 0, 1], [1, 2, 1, 0]]
# Node 1 only for type "a", node 3 only for type "b".
SPLIT = {1: ["a"], 3: ["b"]}


def instance(matrix, agents, windows=(), types=None, return_to_end=True):
    kinds = sorted({kind for kind, _, _, _ in agents})
    constraints = [{"kind": "timewindow",
                    "items": [{"node": v, "start": a, "end": b} for v, a, b in windows]}]
    if types:
        items = [{"node": v, "types": t} for v, t in types.items()]
        constraints.append({"kind": "assignment", "items": items})
    return {
        "nodes": [{"id": v, "x": 0, "y": 0} for v in range(len(matrix))],
        "agents": [{"id": k, "type": kind, "start_node": s, "end_node": e, "max_length": limit}
                   for k, (kind, s, e, limit) in enumerate(agents)],
        "costs": {kind: matrix for kind in kinds},
        "constraints": constraints if windows else constraints[1:],
        "options": {"return_to_end": return_to_end, "objective": "min_sum"},
    }


SHARED = [("a", 0, 0, 2), ("b", 0, 0, 0)]


# Shared depots, own ends and open routes with costs that are not symmetric are also solved
# against enumeration by the core's own tests; these are the cases once answered wrongly.
@pytest.mark.parametrize("document, witness", [
    # shared depot, window and cost limit: agent 0 must go straight home from node 1
    pytest.param(instance(HOME, SHARED, [(3, 0, 2)], SPLIT),
                 [([0, 1, 0], 2), ([0, 3, 2, 0], 5.5)], id="shared-depot-window-and-limit"),
    # the same without a return obligation: the three copies agree
    pytest.param(instance(HOME, SHARED, [(3, 0, 2)], SPLIT, False),
                 [([0, 1, 2, 0], 1), ([0, 3, 0], 1.5)], id="shared-depot-no-return"),
    # two depots, windows only (one on agent 0's depot), no cost limit
    pytest.param(instance(TWO_DEPOTS, [("a", 0, 0, 0), ("b", 4, 4, 0)], [(0, 0, 2), (3, 0, 2)],
                          SPLIT), [([0, 1, 0], 2), ([4, 3, 2, 4], 3.5)],
                 id="two-depots-windows-only"),
    # open route, no return obligation, the own end's window closes early: end at the start
    pytest.param(instance(LINE, [("a", 0, 3, 0)], [(3, 0, 0.5)], None, False), [([0, 1, 2, 0], 2)],
                 id="open-route-own-end-window-closed"),
])
def test_search_returns_checked_routes_no_worse_than_a_checked_witness(document, witness):
    proof = {"routes": [{"agent_id": k, "path": p, "cost": c} for k, (p, c) in enumerate(witness)]}
    assert route_problems(document, proof) == []  # the instance is feasible
    result = solve_checked(document, time_limit=2)  # reported costs are the checked costs
    total = sum(route["cost"] for route in result["routes"])
    assert result["statistics"]["sum_cost"] == pytest.approx(total)
    assert total <= sum(cost for _, cost in witness) + 1e-9
