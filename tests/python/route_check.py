"""Independent feasibility check of a result dictionary against its JSON instance."""

import math


def _index(nodes):
    if isinstance(nodes, dict):
        nodes = [nodes[key] for key in sorted(nodes)]
    return {int(node["id"]): k for k, node in enumerate(nodes)}, nodes


EARTH_RADIUS = 6371008.8


def metric_cost(kind, factor, a, b):
    """The cost of a -> b (node records) under a metric, computed independently of the core."""
    if kind == "haversine":
        lat_a, lat_b = math.radians(a["y"]), math.radians(b["y"])
        h = (math.sin((lat_b - lat_a) / 2) ** 2
             + math.cos(lat_a) * math.cos(lat_b) * math.sin(math.radians(b["x"] - a["x"]) / 2) ** 2)
        return factor * 2 * EARTH_RADIUS * math.asin(math.sqrt(min(1.0, h)))
    deltas = [a.get(axis, 0.0) - b.get(axis, 0.0) for axis in ("x", "y", "z")]
    if kind == "manhattan":
        return factor * sum(abs(d) for d in deltas)
    return factor * math.sqrt(sum(d * d for d in deltas))


class MetricRows:
    """Rows of a cost matrix computed on demand from a metric."""

    def __init__(self, nodes, metric):
        self.nodes = nodes
        self.kind = metric["kind"]
        self.factor = metric.get("factor", 1.0)

    def __len__(self):
        return len(self.nodes)

    def __getitem__(self, i):
        return MetricRow(self, i)


class MetricRow:
    def __init__(self, rows, i):
        self.rows, self.i = rows, i

    def __len__(self):
        return len(self.rows.nodes)

    def __getitem__(self, j):
        nodes = self.rows.nodes
        return metric_cost(self.rows.kind, self.rows.factor, nodes[self.i], nodes[j])


def route_problems(instance, result):
    """Every way in which `result` fails `instance`, as readable strings (empty when sound)."""
    vertex_of, nodes = _index(instance["nodes"])
    options = instance.get("options", {})
    return_to_end = options.get("return_to_end", True)
    agents = instance["agents"]
    starts = [vertex_of[a["start_node"]] for a in agents]
    ends = [vertex_of[a["end_node"]] for a in agents]
    endpoints = set(starts) | set(ends)
    allowed = {}
    windows = {}
    for constraint in instance.get("constraints", []):
        for item in constraint.get("items", []):
            if constraint["kind"] == "assignment" and item["node"] in vertex_of:
                allowed[vertex_of[item["node"]]] = set(item["types"])
            elif constraint["kind"] == "timewindow" and item["node"] in vertex_of:
                windows[vertex_of[item["node"]]] = (item["start"], item["end"])

    problems = []
    served = [0] * len(nodes)
    assert len(result["routes"]) == len(agents)
    for k, (agent, route) in enumerate(zip(agents, result["routes"])):
        path = route["path"]
        who = f"agent {agent['id']}"
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
        if not (path[-1] == ends[k] or (not return_to_end and path[-1] == starts[k])):
            problems.append(f"{who}: ends at {path[-1]}")
        # Rows or entries a matrix leaves out, and a type without one, are legs that do not exist.
        metric = instance.get("metrics", {}).get(agent["type"])
        matrix = (MetricRows(nodes, metric) if metric
                  else instance.get("costs", {}).get(agent["type"], []))
        cost = 0.0
        for i, v in enumerate(path):
            if 0 < i < len(path) - 1:
                if v in endpoints:
                    problems.append(f"{who}: passes through endpoint {v}")
                served[v] += 1
                if v in allowed and agent["type"] not in allowed[v]:
                    problems.append(f"{who}: may not serve {v}")
            if i > 0 and v != path[i - 1]:
                free = not return_to_end and v in (starts[k], ends[k])
                row = matrix[path[i - 1]] if path[i - 1] < len(matrix) else []
                if not free and v >= len(row):
                    problems.append(f"{who}: uses the leg {path[i - 1]} -> {v}, which has no cost")
                cost += 0.0 if free or v >= len(row) else row[v]
            if v in windows:
                # Service starts after any wait; a window that closes before it opens is never met.
                cost = max(cost, windows[v][0])
                if cost > windows[v][1]:
                    problems.append(f"{who}: serves {v} after its window closes")
        limit = agent.get("max_length", 0)
        if limit > 0 and cost > limit + 1e-9:
            problems.append(f"{who}: cost {cost} over its limit {limit}")
        if not math.isclose(route["cost"], cost, rel_tol=1e-9, abs_tol=1e-9):
            problems.append(f"{who}: reports {route['cost']} but its route costs {cost}")
    for v, count in enumerate(served):
        if v not in endpoints and count != 1:
            problems.append(f"vertex {v} served {count} times")
    return problems
