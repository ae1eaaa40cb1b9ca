"""Independent feasibility check of a result dictionary against its JSON instance."""

import math
from types import SimpleNamespace

EARTH_RADIUS = 6371008.8


def _close(a, b, tolerance=1e-9):
    return math.isclose(a, b, rel_tol=1e-9, abs_tol=tolerance)


def metric_cost(kind, factor, a, b):
    """The cost of a -> b (node records) under a metric, computed independently of the core."""
    if kind == "haversine":
        lat_a, lat_b = math.radians(a["y"]), math.radians(b["y"])
        h = (math.sin((lat_b - lat_a) / 2) ** 2
             + math.cos(lat_a) * math.cos(lat_b) * math.sin(math.radians(b["x"] - a["x"]) / 2) ** 2)
        return factor * 2 * EARTH_RADIUS * math.asin(math.sqrt(min(1.0, h)))
    deltas = [a.get(axis, 0.0) - b.get(axis, 0.0) for axis in ("x", "y", "z")]
    return factor * (sum(map(abs, deltas)) if kind == "manhattan" else math.hypot(*deltas))


def _read(instance):
    """What the checker reads of an instance, by vertex where it can: allowed types, windows
    ((open, close) pairs), the enforced sequence pairs (kind, before id, after id), the vertices
    each waits for, the agents' endpoints and the service times (only targets are served)."""
    nodes, options = instance["nodes"], instance.get("options", {})
    vertex_of = {int(node["id"]): k for k, node in enumerate(nodes)}
    allowed, windows, pairs = {}, {}, []
    for constraint in instance.get("constraints", []):
        for item in constraint.get("items", []):
            if constraint["kind"] == "assignment" and item["node"] in vertex_of:
                allowed[vertex_of[item["node"]]] = set(item["types"])
            elif constraint["kind"] == "timewindow" and item["node"] in vertex_of:
                windows[vertex_of[item["node"]]] = [(w[0], w[1]) for w in item["windows"]] \
                    if "windows" in item else [(item["start"], item["end"])]
        if constraint["kind"] == "sequence" and options.get("enforce_sequence", False):
            pairs += [(item.get("type", "precedence"), item["before"], item["after"])
                      for item in constraint.get("precedence", [])]
    waits_for = {}
    for kind, before, after in pairs:
        if kind == "precedence" and before in vertex_of and after in vertex_of:
            waits_for.setdefault(vertex_of[after], set()).add(vertex_of[before])
    endpoints = {vertex_of[a[key]] for a in instance["agents"] for key in ("start_node", "end_node")}
    return SimpleNamespace(
        instance=instance, nodes=nodes, options=options, vertex_of=vertex_of, allowed=allowed,
        windows=windows, pairs=pairs, endpoints=endpoints, waits_for=waits_for,
        service=[0.0 if v in endpoints else node.get("service", 0.0) for v, node in enumerate(nodes)])


PRICES = ("unit_distance_cost", "unit_duration_cost", "max_distance", "max_duration")


def priced(instance):
    """Whether routes cost their distance and duration at unit costs: durations are given, or
    some agent has a unit cost or a limit on either."""
    return "durations" in instance or any(key in a for a in instance["agents"] for key in PRICES)


def _cost(read, agent, durations=False):
    """The cost of a -> b (vertices) for the agent's type by its metric or matrix, else None;
    with `durations`, its travel time (the cost where no durations are given)."""
    metrics, matrices = read.instance.get("metrics", {}), read.instance.get("costs", {})
    if durations and "durations" in read.instance:
        given = read.instance["durations"].get(agent["type"], [])
        metrics, matrices = ({agent["type"]: given}, {}) if isinstance(given, dict) else \
            ({}, {agent["type"]: given})
    metric = metrics.get(agent["type"])
    if metric:
        factor = metric.get("factor", 1.0) / metric.get("speed", 1.0)
        return lambda a, b: metric_cost(metric["kind"], factor, read.nodes[a], read.nodes[b])
    matrix = matrices.get(agent["type"], [])
    return lambda a, b: matrix[a][b] if a < len(matrix) and b < len(matrix[a]) else None


def _legs(read, agent, path, who=""):
    """The time of the leg into each position of `path` (0 into the first: the service left
    and the travel, which legs home skip without a return obligation), the travel billed and
    the problems, such as legs without a cost."""
    cost, duration = _cost(read, agent), _cost(read, agent, durations=True)
    free = set() if read.options.get("return_to_end", True) else {
        read.vertex_of[agent["start_node"]], read.vertex_of[agent["end_node"]]}
    legs, travel, problems = [0.0], 0.0, []
    for previous, v in zip(path, path[1:]):
        if v == previous:
            legs.append(0.0)
        elif v in free:
            legs.append(read.service[previous])
        elif (leg := cost(previous, v)) is None or duration(previous, v) is None:
            problems.append(f"{who}: uses the leg {previous} -> {v}, which has no cost")
            legs.append(0.0)
        else:
            legs.append(read.service[previous] + duration(previous, v))
            travel += leg
    return legs, travel, problems


def _shift(agent):
    """Whether the agent has a shift, when it may leave and by when it must be done. A route
    whose duration is priced or limited leaves as late as a shift would let it."""
    has = "shift_start" in agent or "shift_end" in agent or \
        agent.get("unit_duration_cost", 0) != 0 or "max_duration" in agent
    return has, agent.get("shift_start", 0.0), agent.get("shift_end", math.inf)


def departure(agent, path, times, legs, windows, pinned):
    """When the agent leaves its start: at 0, or with a shift as late as lets it end as early
    as it can. The waits before the end absorb a later start, and no service may pass the
    close of the window it falls in; with precedence waits, services keep their times."""
    if not _shift(agent)[0]:
        return 0.0
    waited, slack = 0.0, math.inf
    for i in range(1, len(path)):
        waited += times[i] - (times[i - 1] + legs[i])
        if pinned:
            return times[0] + waited
        closes = [b for a, b in windows.get(path[i], []) if times[i] <= b]
        slack = min(slack, (closes[0] if closes else math.inf) - times[i] + waited)
    return times[0] + min(waited, slack)


def schedule_problems(who, route, path, times, legs, leaves, travel, ids):
    """Whether the route's "start_time", "end_time", "travel" and "schedule" (per target: node
    id, arrival, start of service) agree with the times of leaving at `leaves`."""
    if "schedule" not in route:
        return []
    later = [max(times[0], leaves)]
    for i in range(1, len(times)):
        later.append(max(later[-1] + legs[i], times[i]))
    expected = {"start_time": leaves, "end_time": later[-1], "travel": travel}
    problems = [f"{who}: its schedule gives {key} {route[key]}, but {value}"
                for key, value in expected.items() if not _close(route[key], value, 1e-6)]
    stops = [{"node": ids[path[i]], "start": later[i], "arrival": later[i - 1] + legs[i]}
             for i in range(1, len(path) - 1)]
    if len(stops) != len(route["schedule"]):
        return problems + [f"{who}: its schedule has {len(route['schedule'])} stops for {len(stops)}"]
    for given, wanted in zip(route["schedule"], stops):
        if given["node"] != wanted["node"] or not all(
                _close(given[key], wanted[key], 1e-6) for key in ("arrival", "start")):
            problems.append(f"{who}: its schedule says {given}, but {wanted}")
    return problems


def price_problems(who, agent, route, distance, duration):
    """The route's distance and duration within the agent's limits and as the route says."""
    problems = [f"{who}: {key} {value} over its limit {agent[key]}"
                for key, value in (("max_distance", distance), ("max_duration", duration))
                if value > agent.get(key, math.inf) + 1e-9]
    return problems + [f"{who}: reports {key} {route[key]}, but {value}"
                       for key, value in (("distance", distance), ("duration", duration))
                       if key in route and not _close(route[key], value, 1e-6)]


def service_times(paths, legs, windows, waits_for, departs):
    """The service time at every position of every route, computed jointly: route k departs
    at `departs[k]`; a vertex is served on arrival, when its window opens or when the vertices
    it waits for are served, on any route, whichever is latest. Returns the times (cut short
    where a route is held up) and the vertices where routes wait on each other in a cycle."""
    unserved = {}  # vertex -> positions serving it that have no time yet
    for path in paths:
        for v in path[1:-1]:
            unserved[v] = unserved.get(v, 0) + 1
    served_at = {}  # vertex -> latest service time among its positions
    times = [[] for _ in paths]
    moved = True
    while moved:
        moved = False
        for k, path in enumerate(paths):
            while len(times[k]) < len(path):
                i = len(times[k])
                v = path[i]
                awaited = waits_for.get(v, ()) if 0 < i < len(path) - 1 else ()
                if any(unserved.get(u, 0) for u in awaited):
                    break
                arrival = times[k][-1] + legs[k][i] if i else departs[k]
                time = max([arrival] + [served_at[u] for u in awaited if u in served_at])
                # Service starts in the earliest window that has not closed.
                time = next((max(time, opens) for opens, closes in windows.get(v, ())
                             if time <= closes), time)
                times[k].append(time)
                moved = True
                if 0 < i < len(path) - 1:
                    unserved[v] -= 1
                    served_at[v] = max(time, served_at.get(v, time))
    return times, [path[len(t)] for path, t in zip(paths, times) if len(t) < len(path)]


def _amounts(value, dims):
    """A load field as one amount per dimension: a list as it stands, a number as the first."""
    if isinstance(value, list):
        return value
    return [value] + [0] * (dims - 1)


def load_problems(who, path, nodes, capacity, endpoints):
    """Per dimension, a route sets out with every delivery it makes; each target adds its
    demand and pick-up and drops its delivery; the load stays in 0 .. `capacity` (0: no
    limit)."""
    dims = max([len(capacity) if isinstance(capacity, list) else 1] +
               [len(node[key]) for node in nodes for key in ("demand", "pickup", "delivery")
                if isinstance(node.get(key), list)])
    targets = [v for v in path if v not in endpoints]
    problems = []
    for d, limit in enumerate(_amounts(capacity, dims)):
        field = lambda v, key: _amounts(nodes[v].get(key, 0), dims)[d]
        load = sum(field(v, "delivery") for v in targets)
        where = f" in dimension {d}" if dims > 1 else ""
        for v in targets:
            load += field(v, "demand") + field(v, "pickup") - field(v, "delivery")
            if load < -1e-9:
                problems.append(f"{who}: load {load}{where} below 0 after {v}")
            if limit > 0 and load > limit + 1e-9:
                problems.append(f"{who}: load {load}{where} over its capacity {limit} after {v}")
    return problems


def pair_problems(pairs, vertex_of, routes_of):
    """Each "same" pair on one route, each "diff" pair on two; order is left to the timing."""
    problems = []
    for kind, before, after in pairs:
        if before not in vertex_of or after not in vertex_of:
            problems.append(f"{kind} pair ({before}, {after}) names a node that does not exist")
            continue
        a, b = routes_of.get(vertex_of[before], set()), routes_of.get(vertex_of[after], set())
        if kind == "same" and a and b and a != b:
            problems.append(f"same pair ({before}, {after}) served by two routes")
        elif kind == "diff" and a & b:
            problems.append(f"diff pair ({before}, {after}) served by one route")
    return problems


def route_problems(instance, result, costs=None):
    """Every way in which `result` fails `instance`, as readable strings (empty when sound).
    Loads and sequence pairs are checked when the instance's options enforce them. `costs`, a
    list, receives the cost of each route that could be timed."""
    read = _read(instance)
    vertex_of, nodes, options, endpoints = read.vertex_of, read.nodes, read.options, read.endpoints
    agents = instance["agents"]
    starts, ends = ([vertex_of[a[key]] for a in agents] for key in ("start_node", "end_node"))
    problems, served = [], [0] * len(nodes)
    routes_of = {}  # vertex -> the routes that serve it
    checked = {}  # route index -> (path, leg times, travel) of the routes sound enough to time
    assert len(result["routes"]) == len(agents)
    for k, (agent, route) in enumerate(zip(agents, result["routes"])):
        path, who = route["path"], f"agent {agent['id']}"
        if route["agent_id"] != agent["id"]:
            problems.append(f"{who}: route entry {k} names agent {route['agent_id']}")
        if not path:
            problems.append(f"{who}: has no route")
            continue
        if any(not 0 <= v < len(nodes) for v in path):
            problems.append(f"{who}: visits a vertex outside 0..{len(nodes) - 1}: {path}")
            continue
        if path[0] != starts[k]:
            problems.append(f"{who}: starts at {path[0]}")
        if not (path[-1] == ends[k] or (not options.get("return_to_end", True)
                                        and path[-1] == starts[k])):
            problems.append(f"{who}: ends at {path[-1]}")
        for v in path[1:-1]:
            if v in endpoints:
                problems.append(f"{who}: passes through endpoint {v}")
            served[v] += 1
            routes_of.setdefault(v, set()).add(k)
            if v in read.allowed and agent["type"] not in read.allowed[v]:
                problems.append(f"{who}: may not serve {v}")
        legs, travel, leg_problems = _legs(read, agent, path, who)
        problems += leg_problems
        checked[k] = path, legs, travel
        if len(path) - 2 > agent.get("max_stops", math.inf):
            problems.append(f"{who}: serves {len(path) - 2} targets, more than its max_stops")
        if options.get("enforce_capacity", False):
            problems += load_problems(who, path, nodes, agent.get("capacity", 0), endpoints)

    problems += pair_problems(read.pairs, vertex_of, routes_of)
    order = sorted(checked)
    times, stuck = service_times([checked[k][0] for k in order], [checked[k][1] for k in order],
                                 read.windows, read.waits_for, [_shift(agents[k])[1] for k in order])
    if stuck:
        problems.append(f"routes wait on each other in a cycle, held up at vertices {stuck}")
    for k, route_times in zip(order, times):
        (path, legs, travel), route = checked[k], result["routes"][k]
        if len(route_times) < len(path):
            continue  # held up in a cycle of waits
        agent, who = agents[k], f"agent {agents[k]['id']}"
        # A window that closes before it opens is never met.
        problems += [f"{who}: serves {v} after its window closes"
                     for v, time in zip(path, route_times)
                     if v in read.windows and not any(a <= time <= b for a, b in read.windows[v])]
        # Service times never fall along a route, so the last one is the highest.
        if route_times[-1] > _shift(agent)[2]:
            problems.append(f"{who}: ends at {route_times[-1]}, after its shift")
        leaves = departure(agent, path, route_times, legs, read.windows, bool(read.waits_for))
        # A route costs its travel under "route_cost": "travel", else its duration; priced, both
        # at their unit costs.
        duration = route_times[-1] - leaves
        cost = travel if options.get("route_cost") == "travel" else duration
        if priced(instance):
            cost = agent.get("unit_distance_cost", 1) * travel + \
                agent.get("unit_duration_cost", 0) * duration
            problems += price_problems(who, agent, route, travel, duration)
        problems += schedule_problems(who, route, path, route_times, legs, leaves, travel,
                                      [node["id"] for node in nodes])
        limit = agent.get("max_length", 0)
        if limit > 0 and cost > limit + 1e-9:
            problems.append(f"{who}: cost {cost} over its limit {limit}")
        if costs is not None:
            costs.append(cost)
        # Routes reported without costs (a progress report's) have only their rules checked.
        if not _close(route.get("cost", cost), cost):
            problems.append(f"{who}: reports {route['cost']} but its route costs {cost}")
    # A partial plan may leave out the stops it lists, with their reasons, and only those.
    left_out = set()
    if options.get("allow_unassigned", False) and result.get("status") == "partial":
        left_out = {vertex_of[stop["node"]] for stop in result["unassigned"] if stop.get("reason")}
    # An optional stop is served once or left out, losing its prize.
    optional = {v for v, node in enumerate(nodes) if node.get("required", True) is False}
    for v, count in enumerate(served):
        if v not in endpoints and count not in ({0, 1} if v in optional else
                                                {0 if v in left_out else 1}):
            problems.append(f"vertex {v} served {count} times")
    lost = sum(nodes[v].get("prize", 0) for v in optional - endpoints if not served[v])
    statistics = result.get("statistics", {})
    if not _close(statistics.get("lost_prize", lost), lost):
        problems.append(f"reports prizes lost {statistics['lost_prize']} but the stops left out "
                        f"have {lost}")
    # Under min-sum the statistics give the fixed costs of the agents that serve a target.
    fixed = sum(agent.get("fixed_cost", 0) for agent, route in zip(agents, result["routes"])
                if len(route["path"]) > 2) if options.get("objective") != "min_max" else 0
    if "statistics" in result and not _close(statistics.get("fixed_cost", 0), fixed):
        problems.append(f"statistics give fixed costs {statistics.get('fixed_cost', 0)}, but "
                        f"the agents used cost {fixed}")
    return problems


def joint_times(instance, paths):
    """The service times along each of `paths` (vertex lists, one per agent in order) under
    the joint timing, or None when the routes wait on each other in a cycle. The last time of
    a route is its cost; the paths themselves are not checked."""
    read = _read(instance)
    agents = instance["agents"]
    times, stuck = service_times(paths, [_legs(read, a, p)[0] for a, p in zip(agents, paths)],
                                 read.windows, read.waits_for, [_shift(a)[1] for a in agents])
    return None if stuck else times
