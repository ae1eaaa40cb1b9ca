"""Pictures of a solution: the routes on the node positions and the anytime curve.

matplotlib is an optional extra: ``pip install .[plot]``.
"""

from __future__ import annotations

import math
import os
from collections.abc import Callable, Mapping
from typing import Any

from ploxa.view import check_result, clock_data, clock_text, node_list, route_colours

INSTALL_HINT = "matplotlib is not installed; install it with: pip install '.[plot]' (or pip install matplotlib)"


class PlotUnavailable(ImportError):
    """matplotlib cannot be imported."""


def _pyplot() -> Any:
    try:
        import matplotlib
    except ImportError as error:
        raise PlotUnavailable(INSTALL_HINT) from error
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plt


def _time_unit(times: list[float]) -> tuple[str, float]:
    """Seconds, or milliseconds when every improvement came within the first second."""
    if times and max(times) < 1.0:
        return "ms", 1000.0
    return "s", 1.0


def _time_axis(axes: Any, times: list[float]) -> None:
    """A logarithmic axis when the times span decades, else a few short tick labels."""
    from matplotlib.ticker import MaxNLocator, ScalarFormatter
    positive = [t for t in times if t > 0]
    if positive and len(positive) == len(times) and max(positive) >= 10 * min(positive):
        axes.set_xscale("log")
        return
    axes.xaxis.set_major_locator(MaxNLocator(nbins=5))
    axes.xaxis.set_major_formatter(ScalarFormatter(useOffset=False))


def time_writer(clock: str | None, time_unit: str = "min") -> Callable[[float], str]:
    """How the picture writes a time of the instance: hh:mm from `clock`, else the number."""
    start = clock_data(clock, time_unit)["start"]
    if clock is None:
        return lambda value: f"{value:.4g}"
    return lambda value: clock_text(value, start, time_unit)


def stop_labels(instance: Mapping[str, Any], result: Mapping[str, Any], labels: bool,
                times: bool, write: Callable[[float], str]) -> dict[Any, str]:
    """The text beside each node, by node id: with `labels` its id and, on a route, its place
    along it ("7 #3"); with `times` the start of its service."""
    texts = {node["id"]: [str(node["id"])] if labels else [] for node in node_list(instance)}
    for route in result.get("routes", []):
        starts = {stop["node"]: stop["start"] for stop in route.get("schedule", [])}
        for order, node in enumerate(route.get("node_ids", [])[1:-1], 1):
            if labels:
                texts[node] = [f"{node} #{order}"]
            if times and node in starts:
                texts[node].append(write(starts[node]))
    return {node: " ".join(parts) for node, parts in texts.items() if parts}


def plot_solution(instance: dict[str, Any], result: Mapping[str, Any],
                  output: str | os.PathLike[str],
                  size: tuple[int, int] = (1200, 600), dpi: int = 100,
                  times: bool = False, labels: bool = False, clock: str | None = None,
                  time_unit: str = "min") -> None:
    """Writes a PNG of `size` pixels: on the left the nodes at their positions, north up
    (depots as squares, targets as dots, time-window nodes ringed) and each agent's route in
    its own colour with its cost in the legend, drawn to scale (longitude and latitude about
    their mean latitude, as on the page); with `labels` each node's id and each stop's place
    along its route, with `times` the start of each stop's service (from the routes'
    "schedule"), as hh:mm from `clock` ("HH:MM", the time of day of time 0, the instance's
    times in `time_unit`, "min" or "s") when given. On the right the longest route and the
    total over processor time, from the result's "anytime" history. ValueError for a result
    that names an agent or node the instance does not have, or a clock it cannot read."""
    check_result(instance, result)
    write = time_writer(clock, time_unit)
    plt = _pyplot()
    figure, (routes_ax, curve_ax) = plt.subplots(
        1, 2, figsize=(size[0] / dpi, size[1] / dpi), dpi=dpi, gridspec_kw={"width_ratios": [3, 2]})
    _draw_routes(routes_ax, instance, result, write if clock else None)
    _draw_nodes(routes_ax, instance, stop_labels(instance, result, labels, times, write))
    routes_ax.legend(fontsize="small", loc="best")
    _draw_curve(curve_ax, result.get("anytime", []))
    figure.tight_layout()
    figure.savefig(os.fspath(output), dpi=dpi)
    plt.close(figure)


def _places(instance: Mapping[str, Any]) -> dict[Any, tuple[float, float]]:
    return {node["id"]: (float(node.get("x", 0.0)), float(node.get("y", 0.0)))
            for node in node_list(instance)}


def _draw_routes(axes: Any, instance: Mapping[str, Any], result: Mapping[str, Any],
                 write: Callable[[float], str] | None) -> None:
    """Each route in its agent's colour, the one the page gives it; with a clock, its hours
    in the legend."""
    at = _places(instance)
    agents = [agent["id"] for agent in instance.get("agents", [])]
    colour = dict(zip(agents, route_colours(len(agents))))
    for route in result.get("routes", []):
        path = route.get("node_ids", [])
        if len(path) < 2:
            continue
        label = f"agent {route['agent_id']}: {route['cost']:.6g}"
        if write and "start_time" in route:
            label += f", {write(route['start_time'])}–{write(route['end_time'])}"
        axes.plot([at[v][0] for v in path], [at[v][1] for v in path], "-", lw=1.6,
                  color=colour[route["agent_id"]], label=label)
    statistics = result.get("statistics", {})
    axes.set_title(f"{result.get('status', '')}: longest {statistics.get('max_cost', 0):.6g}, "
                   f"total {statistics.get('sum_cost', 0):.6g}")
    axes.set_aspect(_aspect(instance), adjustable="datalim")


def _aspect(instance: Mapping[str, Any]) -> float:
    """A degree of latitude is longer on the ground than one of longitude by 1/cos(latitude),
    and the page projects about the mean latitude: so does the picture."""
    nodes = node_list(instance)
    haversine = any(isinstance(metric, Mapping) and metric.get("kind") == "haversine"
                    for metric in instance.get("metrics", {}).values())
    if not (nodes and haversine):
        return 1.0
    mean = sum(float(node.get("y", 0.0)) for node in nodes) / len(nodes)
    return 1 / max(math.cos(math.radians(mean)), 1e-6)


def _draw_nodes(axes: Any, instance: Mapping[str, Any], texts: Mapping[Any, str]) -> None:
    at = _places(instance)
    endpoints = {agent[key] for agent in instance.get("agents", [])
                 for key in ("start_node", "end_node")}
    depots = {node["id"] for node in node_list(instance)
              if str(node.get("type", "")).upper() == "DEPOT" or node["id"] in endpoints}
    windows = {item["node"] for constraint in instance.get("constraints", [])
               if constraint.get("kind") == "timewindow"
               for item in constraint.get("items", []) if item["node"] in at}
    targets = [node for node in at if node not in depots]
    axes.scatter([at[k][0] for k in targets], [at[k][1] for k in targets], s=18, c="black",
                 zorder=3, label="target")
    axes.scatter([at[k][0] for k in depots], [at[k][1] for k in depots], s=70, marker="s",
                 c="crimson", zorder=4, label="depot")
    if windows:
        axes.scatter([at[k][0] for k in windows], [at[k][1] for k in windows], s=150,
                     facecolors="none", edgecolors="darkorange", linewidths=1.5, zorder=5,
                     label="time window")
    for node, text in texts.items():
        axes.annotate(text, at[node], xytext=(4, 4), fontsize="x-small",
                      textcoords="offset points", zorder=6)


def _draw_curve(axes: Any, steps: list[Mapping[str, Any]]) -> None:
    unit, scale = _time_unit([step["time"] for step in steps])
    if steps:
        stamps = [step["time"] * scale for step in steps]
        axes.step(stamps, [step["max_cost"] for step in steps], where="post", marker="o",
                  label="longest")
        axes.step(stamps, [step["sum_cost"] for step in steps], where="post", marker="o",
                  label="total")
        axes.legend(fontsize="small")
        _time_axis(axes, stamps)
    axes.set_xlabel(f"processor time ({unit})")
    axes.set_ylabel("cost")
    axes.set_title("improvements over time")
