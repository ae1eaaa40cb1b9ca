"""Coverage-guided fuzzing of solve_json_str and the object API; every success is checked by
the independent route checker of the Python tests.

    [PLOXA_FUZZ_KNOWN=name,...] .venv/bin/python tests/fuzz/fuzz_solve.py [libFuzzer flags] \
        SCRATCH_DIR tests/fuzz/corpus

libFuzzer adds new inputs to the first directory, so a scratch one keeps the seeds as they are;
-timeout=20 turns a hanging solve into a saved input. PLOXA_FUZZ_KNOWN names faults already
reported (see KNOWN) that the run should count rather than stop at. At exit the counts of
inputs, outcomes and exceptions by type go to standard output.

The first byte of an input picks the mode: even, the rest is JSON text for solve_json_str;
odd, the rest drives a generator of tiny instances that both entry points solve. A solve may
return or raise ValueError, RuntimeError or IndexError with a message; any other exception, an
empty message or a success that breaks the rules is a crash that libFuzzer saves.
"""

import collections
import contextlib
import ctypes
import json
import math
import os
import pathlib
import sys

import atheris

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "python"))
with atheris.instrument_imports():
    from route_check import route_problems

import _pyploxa_core as core

TIME_LIMIT = 0.2
EXPECTED = (ValueError, RuntimeError, IndexError)
TYPES = ["t0", "t1"]
ODD_IDS = [2**64 - 1, 2**63, -1, -7, 4.0, 2.5, 1e19]
ODD_COSTS = [math.nan, math.inf, -math.inf, -4.0, 1e300, 0.5]

counts = collections.Counter()

# The module prints progress on standard output and warnings on standard error; both go to
# /dev/null during a solve only, since atheris reports a crash on standard output and
# libFuzzer on standard error.
DEVNULL = os.open(os.devnull, os.O_WRONLY)
SAVED = {fd: os.dup(fd) for fd in (1, 2)}
LIBC = ctypes.CDLL(None)


@contextlib.contextmanager
def quiet():
    for fd in SAVED:
        os.dup2(DEVNULL, fd)
    try:
        yield
    finally:
        LIBC.fflush(None)  # what the module left in the C library's buffer goes to /dev/null too
        for fd, saved in SAVED.items():
            os.dup2(saved, fd)


def report(_=None):
    lines = [f"{key}: {value}" for key, value in sorted(counts.items())]
    os.write(1, ("fuzz counts\n  " + "\n  ".join(lines) + "\n").encode())


def unsigned(value):
    """An id as the loader reads it: an unsigned 64-bit integer."""
    return int(value) % 2**64


@atheris.instrument_func
def canonical(instance):
    """The instance with every node and agent id as read, and costs keyed by type name."""
    nodes = instance["nodes"]
    if isinstance(nodes, dict):
        nodes = [nodes[key] for key in sorted(nodes)]
    costs = instance.get("costs", {})
    if isinstance(costs, list):  # an array stores its matrices under "0", "1", ...
        costs = {str(k): matrix for k, matrix in enumerate(costs)}
    refs = ("id", "start_node", "end_node", "node")
    fix = lambda item: {key: unsigned(v) if key in refs else v for key, v in item.items()}
    return dict(instance, nodes=[fix(node) for node in nodes],
                agents=[fix(agent) for agent in instance["agents"]], costs=costs,
                constraints=[dict(c, items=[fix(item) for item in c.get("items", [])])
                             for c in instance.get("constraints", [])])


# What the reading of a document that is no instance may raise.
UNREADABLE = (ValueError, LookupError, TypeError, AttributeError, ArithmeticError, RecursionError)


def read(text):
    """The instance in `text` as canonical(), or None where the text holds none."""
    try:
        return canonical(json.loads(text))
    except UNREADABLE:
        return None


def missing_cost(instance):
    """An agent type without a matrix (a matrix short of the nodes is refused)."""
    return any(agent["type"] not in instance["costs"] for agent in instance["agents"])


def start_window(instance):
    starts = {agent["start_node"] for agent in instance["agents"]}
    return any(item["node"] in starts for c in instance["constraints"]
               if c["kind"] == "timewindow" for item in c["items"])


# Known ways in which the solver's routes and the checker part (faults, or readings of the
# format that the checker does not share): the instances that can show one, and the words of
# the problems it causes (a route timed differently also has a schedule that the checker
# times differently). PLOXA_FUZZ_KNOWN=name,... counts those problems instead of stopping,
# so that a run looks past them. nul-byte, text after a NUL byte that the reader ignores, is
# handled where raw text is read.
KNOWN = {
    "nul-byte": (lambda instance: False, []),
    "missing-cost": (missing_cost, ["which has no cost", "but its route costs", "its schedule"]),
    "start-window": (start_window, ["after its window closes", "but its route costs",
                                    "over its limit", "its schedule"]),
}
TOLERATED = [name for name in os.environ.get("PLOXA_FUZZ_KNOWN", "").split(",") if name]
assert set(TOLERATED) <= set(KNOWN), f"PLOXA_FUZZ_KNOWN takes names from {sorted(KNOWN)}"


def holds(has, instance):
    try:
        return has(instance)
    except UNREADABLE:
        return False  # no instance that the solver would take


def known_fault(instance, problems):
    """The tolerated faults that `instance` has and that explain all `problems`, or None."""
    faults = [name for name in TOLERATED if holds(KNOWN[name][0], instance)]
    explains = lambda name, problem: any(word in problem for word in KNOWN[name][1])
    named, left = [], problems
    for name in faults:
        if any(explains(name, p) for p in left):
            named.append(name)
            left = [p for p in left if not explains(name, p)]
    return None if left else "+".join(named)


def solve_checked(api, instance, solve):
    """Runs `solve` and checks its outcome against `instance` (canonical, or None)."""
    try:
        with quiet():
            result = solve()
    except Exception as error:
        counts[f"{api} raised {type(error).__name__}"] += 1
        if not isinstance(error, EXPECTED):
            raise
        if not str(error):
            raise AssertionError(f"{api}: {type(error).__name__} without a message") from error
        return
    if result["status"] != "success":
        counts[f"{api} failed"] += 1
        return
    if instance is None:
        raise AssertionError(f"{api}: a success for a document the checker cannot read")
    problems = route_problems(instance, result)
    if not problems:
        counts[f"{api} success checked"] += 1
        return
    known = known_fault(instance, problems)
    if not known:
        raise AssertionError(f"{api}: " + "; ".join(problems) + f"\nroutes: {result['routes']}")
    counts[f"{api} failed checks, known {known}"] += 1


@atheris.instrument_func
def generate(fdp):
    """A tiny instance: 1-7 nodes, 1-4 agents of 1-2 types, now and then something odd."""
    pick = lambda seq: seq[fdp.ConsumeIntInRange(0, len(seq) - 1)]
    rarely = lambda: fdp.ConsumeIntInRange(0, 7) == 7  # never once the bytes run out
    n = fdp.ConsumeIntInRange(1, 7)
    ids = [90 - 7 * k for k in range(n)]  # ids that are not positions
    if rarely():
        ids[pick(range(n))] = pick(ODD_IDS + ids)  # odd, or a duplicate
    nodes = [{"id": i, "x": fdp.ConsumeIntInRange(-50, 50), "y": fdp.ConsumeIntInRange(-50, 50)}
             for i in ids]
    types = TYPES[:fdp.ConsumeIntInRange(1, 2)]
    agents = []
    for k in range(fdp.ConsumeIntInRange(1, 4)):
        start = pick(ids)
        agent = {"id": 200 + 3 * k, "type": pick(types), "start_node": start,
                 "end_node": start if fdp.ConsumeBool() else pick(ids)}
        if fdp.ConsumeBool():
            agent["max_length"] = pick([5, 20, 60, 12.5, 0, -3, 2**31 + 5])
        agents.append(agent)
    if rarely():
        pick(agents)[pick(["id", "start_node", "end_node"])] = pick(ODD_IDS + [200, 999])
    costs = {}
    used = sorted({agent["type"] for agent in agents})
    for name in used + (["t9"] if rarely() else []):  # t9: a matrix that no agent uses
        if rarely():
            continue  # no matrix at all
        matrix = [[float(fdp.ConsumeIntInRange(0, 20)) for _ in range(n)] for _ in range(n)]
        if rarely():
            matrix[pick(range(n))][pick(range(n))] = pick(ODD_COSTS)
        if rarely():
            (matrix if fdp.ConsumeBool() else matrix[pick(range(n))]).pop()
        costs[name] = matrix
    constraints = []
    if fdp.ConsumeBool():
        allowed = [["t0"], ["t1"], ["t0", "t1"], [], ["zz"]]
        constraints.append({"kind": "assignment", "items": [
            {"node": i, "types": pick(allowed)} for i in ids if fdp.ConsumeBool()]})
    if fdp.ConsumeBool():
        items = []
        for i in ids:
            if fdp.ConsumeBool():
                start = fdp.ConsumeIntInRange(0, 40)
                end = start + fdp.ConsumeIntInRange(0, 40)
                if rarely():
                    start, end = pick([(end + 1, start), (math.nan, end), (start, math.inf),
                                       (-math.inf, end), (start, -math.inf)])
                items.append({"node": i, "start": float(start), "end": float(end)})
        constraints.append({"kind": "timewindow", "items": items})
    options = {"objective": pick(["min_max", "min_sum"]), "return_to_end": fdp.ConsumeBool()}
    if fdp.ConsumeIntInRange(0, 3) == 3:
        options.update(improve=True, seed=fdp.ConsumeIntInRange(0, 1000))
    return {"nodes": nodes, "agents": agents, "costs": costs, "constraints": constraints,
            "options": options}


def solve_objects(instance):
    """Builds the instance through Problem, Node, Agent and the constraint objects."""
    problem = core.Problem()
    for item in instance["nodes"]:
        node = core.Node()
        node.id = unsigned(item["id"])
        node.position.x, node.position.y = item["x"], item["y"]
        problem.add_node(node)
    for item in instance["agents"]:
        agent = core.Agent()
        agent.id, agent.type = unsigned(item["id"]), item["type"]
        agent.start_node, agent.end_node = unsigned(item["start_node"]), unsigned(item["end_node"])
        agent.time_limit = item.get("max_length", 0)
        problem.add_agent(agent, agent.id)
    for name, matrix in instance["costs"].items():
        problem.set_cost_matrix(name, matrix)
    assignment, windows = core.AssignmentConstraint(), core.TimeWindowConstraint()
    for constraint in instance["constraints"]:
        for item in constraint["items"]:
            if constraint["kind"] == "assignment":
                assignment.set_assignment(unsigned(item["node"]), item["types"])
            else:
                windows.set_timewindow(unsigned(item["node"]), item["start"], item["end"])
    problem.set_assignment_constraint(assignment)
    problem.set_timewindow_constraint(windows)
    given = instance["options"]
    options = problem.options()
    options.objective = (core.ObjectiveType.MinMax if given["objective"] == "min_max"
                         else core.ObjectiveType.MinSum)
    options.return_to_end = given["return_to_end"]
    options.improve = given.get("improve", False)
    options.seed = given.get("seed", 0)
    options.time_limit = TIME_LIMIT
    solver = core.Solver(problem, options)
    status = solver.solve()
    result = solver.get_result()
    routes = [{"agent_id": unsigned(agent["id"]), "path": result.paths.get(k, []),
               "cost": result.times.get(k, 0.0)} for k, agent in enumerate(instance["agents"])]
    return {"status": "success" if status == 1 else "failed", "routes": routes}


def test_one_input(data):
    counts["executions"] += 1
    if not data or data[0] % 2 == 0:
        counts["raw inputs"] += 1
        text = data[1:]
        if b"\0" in text and "nul-byte" in TOLERATED:
            counts["raw inputs cut at a NUL byte, known nul-byte"] += 1
            text = text[:text.index(b"\0")]
        solve_checked("raw json", read(text),
                      lambda: core.solve_json_str(text, time_limit=TIME_LIMIT))
        return
    counts["structured inputs"] += 1
    instance = generate(atheris.FuzzedDataProvider(data[1:]))
    text = json.dumps(instance)  # NaN and infinities come out as tokens JSON does not have
    solve_checked("json", canonical(instance),
                  lambda: core.solve_json_str(text, time_limit=TIME_LIMIT))
    solve_checked("objects", canonical(instance), lambda: solve_objects(instance))


if __name__ == "__main__":
    # libFuzzer ends the process with the C library's exit(), which skips Python's atexit
    # list; Fuzz() never returns, so the interpreter is still up when the handler runs.
    REPORT = ctypes.CFUNCTYPE(None, ctypes.c_void_p)(report)
    LIBC.__cxa_atexit(REPORT, None, None)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
