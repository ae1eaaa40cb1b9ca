"""Pictures of a solution: the routes on the node positions and the anytime curve.

matplotlib is an optional extra: ``pip install .[plot]``.
"""

from __future__ import annotations

import os
from collections.abc import Mapping
from typing import Any

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
        return "milliseconds", 1000.0
    return "seconds", 1.0


def _time_axis(axes: Any, times: list[float]) -> None:
    """A logarithmic axis when the times span decades, else a few short tick labels."""
    from matplotlib.ticker import MaxNLocator, ScalarFormatter
    positive = [t for t in times if t > 0]
    if positive and len(positive) == len(times) and max(positive) >= 10 * min(positive):
        axes.set_xscale("log")
        return
    axes.xaxis.set_major_locator(MaxNLocator(nbins=5))
    axes.xaxis.set_major_formatter(ScalarFormatter(useOffset=False))


def _nodes(instance: dict[str, Any]) -> list[dict[str, Any]]:
    nodes = instance["nodes"]
    return [nodes[key] for key in sorted(nodes)] if isinstance(nodes, dict) else list(nodes)


def plot_solution(instance: dict[str, Any], result: Mapping[str, Any],
                  output: str | os.PathLike[str],
                  size: tuple[int, int] = (1200, 600), dpi: int = 100,
                  times: bool = False) -> None:
    """Writes a PNG of `size` pixels: on the left the nodes at their positions (depots as
    squares, targets as dots, time-window nodes ringed) and each agent's route in its own
    colour with its cost in the legend, drawn to scale, each stop labelled with the start of
    its service when `times` is set (from the routes' "schedule"); on the right the longest
    route and the total over processor time, from the result's "anytime" history (a
    logarithmic time axis when the times span decades)."""
    plt = _pyplot()
    nodes = _nodes(instance)
    xy = [(float(node.get("x", 0.0)), float(node.get("y", 0.0))) for node in nodes]
    index = {int(node["id"]): k for k, node in enumerate(nodes)}
    endpoints = {index.get(int(agent[key])) for agent in instance.get("agents", [])
                 for key in ("start_node", "end_node")}
    depots = {k for k, node in enumerate(nodes)
              if str(node.get("type", "")).upper() == "DEPOT" or k in endpoints}
    windows = {index[int(item["node"])] for constraint in instance.get("constraints", [])
               if constraint.get("kind") == "timewindow"
               for item in constraint.get("items", []) if int(item["node"]) in index}

    figure, (routes_ax, curve_ax) = plt.subplots(
        1, 2, figsize=(size[0] / dpi, size[1] / dpi), dpi=dpi, gridspec_kw={"width_ratios": [3, 2]})
    colours = plt.get_cmap("tab10")
    for k, route in enumerate(result.get("routes", [])):
        path = route.get("path", [])
        if len(path) < 2:
            continue
        routes_ax.plot([xy[v][0] for v in path], [xy[v][1] for v in path], "-", lw=1.6,
                       color=colours(k % 10),
                       label=f"agent {route['agent_id']}: {route['cost']:.6g}")
        for stop in route.get("schedule", []) if times else []:
            at = xy[index[int(stop["node"])]]
            routes_ax.annotate(f"{stop['start']:.4g}", at, xytext=(4, 4), fontsize="x-small",
                               textcoords="offset points", color=colours(k % 10))
    targets = [k for k in range(len(xy)) if k not in depots]
    routes_ax.scatter([xy[k][0] for k in targets], [xy[k][1] for k in targets], s=18, c="black",
                      zorder=3, label="target")
    routes_ax.scatter([xy[k][0] for k in depots], [xy[k][1] for k in depots], s=70, marker="s",
                      c="crimson", zorder=4, label="depot")
    if windows:
        routes_ax.scatter([xy[k][0] for k in windows], [xy[k][1] for k in windows], s=150,
                          facecolors="none", edgecolors="darkorange", linewidths=1.5, zorder=5,
                          label="time window")
    routes_ax.set_title(f"{result.get('status', '')}: longest "
                        f"{result.get('statistics', {}).get('max_cost', 0):.6g}, total "
                        f"{result.get('statistics', {}).get('sum_cost', 0):.6g}")
    routes_ax.set_aspect("equal", adjustable="datalim")
    routes_ax.legend(fontsize="small", loc="best")

    steps = result.get("anytime", [])
    unit, scale = _time_unit([step["time"] for step in steps])
    if steps:
        stamps = [step["time"] * scale for step in steps]
        curve_ax.step(stamps, [step["max_cost"] for step in steps], where="post", marker="o",
                      label="longest")
        curve_ax.step(stamps, [step["sum_cost"] for step in steps], where="post", marker="o",
                      label="total")
        curve_ax.legend(fontsize="small")
        _time_axis(curve_ax, stamps)
    curve_ax.set_xlabel(f"processor {unit}")
    curve_ax.set_title("improvements over time")
    figure.tight_layout()
    figure.savefig(os.fspath(output), dpi=dpi)
    plt.close(figure)
