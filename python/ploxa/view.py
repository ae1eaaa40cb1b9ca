"""A page in the browser that draws an instance and its routes: served on 127.0.0.1 (and, for
a live solve, fed every improvement through server-sent events) or written as one file.

The standard library's threading HTTP server is enough for one local viewer and adds no
dependency; the page's script and style ship in ploxa/viewer and need no network."""

from __future__ import annotations

import colorsys
import html
import http.server
import json
import math
import re
import threading
from collections.abc import Mapping
from importlib import resources
from typing import Any

import _pyploxa_core as core

EVENT_WAIT = 0.5  # seconds between checks for a closed server while an event stream idles


# Ten familiar colours, then fifty more picked greedily from a grid of hues and lightnesses,
# each the farthest (in CIELAB) from those before it: any two of the sixty stay apart at a
# glance, and the first routes keep the colours a reader of plots expects.
PALETTE = [
    "#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2", "#17becf",
    "#bcbd22", "#7f7f7f", "#2525f4", "#f425f4", "#57631d", "#790653", "#7409aa", "#256af4",
    "#aa7409", "#da0b73", "#288a6a", "#791a06", "#d7a675", "#28398a", "#4dcb8c", "#aa098f",
    "#1d4b63", "#cb4d62", "#f68b55", "#258cf4", "#f655db", "#c155f6", "#6a288a", "#55c1f6",
    "#3434b2", "#74aa09", "#06792d", "#7055f6", "#d78575", "#634b1d", "#b25e34", "#4dcbb6",
    "#b29d34", "#287a8a", "#da0b50", "#950bda", "#d77595", "#8a2839", "#537906", "#da500b",
    "#8c4dcb", "#1d6357", "#796606", "#1d6334", "#4d62cb", "#da950b", "#794006", "#b23473",
    "#064079", "#da0b95", "#aa3e09", "#55a6f6"]
GOLDEN_ANGLE = 137.50776  # degrees: hues this far apart never repeat
TIME_UNITS = {"min": 1.0, "s": 60.0}  # the instance's time units in a minute


def page_html(instance: Mapping[str, Any], result: Mapping[str, Any] | None, title: str,
              live: bool = False, clock: str | None = None, time_unit: str = "min") -> str:
    """The page, with its script, style and data inline. `clock` ("HH:MM", the time of day of
    time 0, with the instance's times in `time_unit`) has the page start with times as hh:mm;
    without it, the page's clock switch counts from 00:00. ValueError for a result that names
    an agent or node the instance does not have, or a clock or unit it cannot read."""
    check_result(instance, result)
    folder = resources.files("ploxa") / "viewer"
    payload = {"instance": instance, "result": result, "live": live,
               "clock": clock_data(clock, time_unit),
               "colours": route_colours(len(instance.get("agents", [])))}
    # "<" only occurs inside JSON strings, where its escape is the same text to the parser;
    # left raw, "</script>" or "<!--" in a node's name would end or garble the data element.
    data = page_json(payload).replace("<", "\\u003c")
    parts = {"__TITLE__": html.escape(title),
             "__CSS__": (folder / "view.css").read_text(encoding="utf-8"),
             "__JS__": (folder / "view.js").read_text(encoding="utf-8"),
             "__DATA__": data}
    # One pass, so that a marker inside the inserted text (a file name, say) stays as it is.
    return re.sub("|".join(parts), lambda found: parts[found.group(0)],
                  (folder / "view.html").read_text(encoding="utf-8"))


def route_colours(count: int) -> list[str]:
    """A colour per route, the same on the page and in the picture."""
    extra = [colorsys.hls_to_rgb(k * GOLDEN_ANGLE % 360 / 360, (0.35, 0.5)[k % 2], 0.8)
             for k in range(count - len(PALETTE))]
    return PALETTE[:count] + ["#%02x%02x%02x" % tuple(round(255 * c) for c in rgb)
                              for rgb in extra]


def check_result(instance: Mapping[str, Any], result: Mapping[str, Any] | None) -> None:
    """Refuses a result of another instance: drawn, its routes would run through the wrong
    stops or over a blank map."""
    problem = None if result is None else result_problem(instance, result)
    if problem:
        raise ValueError(f"not a result of this instance: {problem}")


def result_problem(instance: Mapping[str, Any], result: Mapping[str, Any]) -> str | None:
    """The first agent or node of the result that the instance does not have, in words."""
    if not (isinstance(result, Mapping) and isinstance(result.get("routes"), list)):
        return 'it has no list of "routes"'
    agents = {agent.get("id") for agent in instance.get("agents", [])}
    nodes = {node.get("id") for node in node_list(instance)}
    for route in result["routes"]:
        if not (isinstance(route, Mapping) and isinstance(route.get("node_ids", []), list)):
            return f"a route {json.dumps(route)[:60]} is not an agent_id with node_ids"
        agent = route.get("agent_id")
        if not is_id(agent) or agent not in agents:
            return f"agent {json.dumps(agent)} is not one of its agents"
        stop = next((stop for stop in route.get("node_ids", [])
                     if not is_id(stop) or stop not in nodes), None)
        if stop is not None:
            return f"node {json.dumps(stop)} on the route of agent {agent} is not one of its nodes"
    left = next((item.get("node") for item in result.get("unassigned", [])
                 if isinstance(item, Mapping) and item.get("node") not in nodes), None)
    return None if left is None else f"unassigned node {json.dumps(left)} is not one of its nodes"


def is_id(value: Any) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)  # JSON's true is no id


def node_list(instance: Mapping[str, Any]) -> list[Any]:
    nodes = instance.get("nodes", [])
    return [nodes[key] for key in sorted(nodes)] if isinstance(nodes, Mapping) else list(nodes)


def clock_start(text: str) -> int:
    """The minutes after midnight of "H:MM" or "HH:MM"."""
    found = re.fullmatch(r"([01]?\d|2[0-3]):([0-5]\d)", text.strip())
    if not found:
        raise ValueError(f"clock {text!r} is not a time of day from 00:00 to 23:59")
    return int(found.group(1)) * 60 + int(found.group(2))


def clock_data(clock: str | None, time_unit: str) -> dict[str, Any]:
    if time_unit not in TIME_UNITS:
        raise ValueError(f"time unit {time_unit!r} is none of {', '.join(TIME_UNITS)}")
    return {"on": clock is not None, "start": 0 if clock is None else clock_start(clock),
            "unit": time_unit, "per_minute": TIME_UNITS[time_unit]}


def clock_text(value: float, start: int, time_unit: str = "min") -> str:
    """A time of the instance as hh:mm, to the nearest minute as the page rounds it (half
    up). Past midnight the hours go on (25:30), so that a long day still reads in order."""
    minutes = math.floor(start + value / TIME_UNITS[time_unit] + 0.5)
    hours, rest = divmod(abs(minutes), 60)
    return f"{'-' if minutes < 0 else ''}{hours:02d}:{rest:02d}"


def page_json(payload: Any) -> str:
    """JSON the browser can parse: it has no NaN or Infinity, so those go as null."""
    try:
        return json.dumps(payload, allow_nan=False)
    except ValueError:
        return json.dumps(finite(payload), allow_nan=False)


def finite(value: Any) -> Any:
    if isinstance(value, float):
        return value if value == value and abs(value) != float("inf") else None
    if isinstance(value, Mapping):
        return {key: finite(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [finite(item) for item in value]
    return value


class EventLog:
    """Every event published so far; each stream sends them all, then waits for more.

    Only the latest progress event keeps its routes: a page that connects late needs the
    whole curve but just the current plan, and a long solve of thousands of nodes would
    otherwise hold (and replay) every plan it ever had."""

    def __init__(self) -> None:
        self.events: list[tuple[str, str]] = []
        self.changed = threading.Condition()
        self.closed = False
        self.full_progress: tuple[int, str] | None = None  # its index and text without routes

    def publish(self, name: str, payload: Any) -> None:
        text = page_json(payload)
        with self.changed:
            if name == "progress" and isinstance(payload, Mapping):
                if self.full_progress is not None:
                    index, light = self.full_progress
                    self.events[index] = ("progress", light)
                light = page_json({key: item for key, item in payload.items() if key != "routes"})
                self.full_progress = (len(self.events), light)
            self.events.append((name, text))
            self.changed.notify_all()

    def close(self) -> None:
        with self.changed:
            self.closed = True
            self.changed.notify_all()

    def wait_beyond(self, count: int) -> list[tuple[str, str]] | None:
        """The events after the first `count`, once there are any; None once closed."""
        with self.changed:
            while len(self.events) <= count and not self.closed:
                self.changed.wait(EVENT_WAIT)
            return None if self.closed else self.events[count:]


class ViewServer:
    """Serves the page at / and its events at /events until close()."""

    def __init__(self, page: str, port: int = 0) -> None:
        self.log = EventLog()
        body, log = page.encode("utf-8"), self.log

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self) -> None:
                path = self.path.partition("?")[0]
                if path in ("/", "/index.html"):
                    self.reply(body, "text/html; charset=utf-8")
                elif path == "/events":
                    self.stream()
                else:
                    self.send_error(404)

            def reply(self, content: bytes, kind: str) -> None:
                self.send_response(200)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(content)))
                self.end_headers()
                self.wfile.write(content)

            def stream(self) -> None:
                self.send_response(200)
                self.send_header("Content-Type", "text/event-stream")
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                sent = 0
                try:
                    while (events := log.wait_beyond(sent)) is not None:
                        for name, payload in events:
                            self.wfile.write(f"event: {name}\ndata: {payload}\n\n".encode())
                        self.wfile.flush()
                        sent += len(events)
                except (BrokenPipeError, ConnectionResetError):
                    pass  # the page was closed

            def log_message(self, format: str, *args: Any) -> None:
                pass  # the terminal shows the solve, not each request

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self.server.server_address[1]}/"

    def start(self) -> ViewServer:
        self.thread.start()
        return self

    def close(self) -> None:
        self.log.close()
        self.server.shutdown()
        self.server.server_close()


def progress_event(report: core.Progress) -> dict[str, Any]:
    return {"time": report.time, "longest": report.longest, "total": report.total,
            "source": report.source, "routes": report.routes}
