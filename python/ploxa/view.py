"""A page in the browser that draws an instance and its routes: served on 127.0.0.1 (and, for
a live solve, fed every improvement through server-sent events) or written as one file.

The standard library's threading HTTP server is enough for one local viewer and adds no
dependency; the page's script and style ship in ploxa/viewer and need no network."""

from __future__ import annotations

import html
import http.server
import json
import re
import threading
from collections.abc import Mapping
from importlib import resources
from typing import Any

import _pyploxa_core as core

EVENT_WAIT = 0.5  # seconds between checks for a closed server while an event stream idles


def page_html(instance: Mapping[str, Any], result: Mapping[str, Any] | None, title: str,
              live: bool = False) -> str:
    """The page, with its script, style and data inline."""
    folder = resources.files("ploxa") / "viewer"
    # "<" only occurs inside JSON strings, where its escape is the same text to the parser;
    # left raw, "</script>" or "<!--" in a node's name would end or garble the data element.
    data = page_json({"instance": instance, "result": result, "live": live}).replace("<", "\\u003c")
    parts = {"__TITLE__": html.escape(title),
             "__CSS__": (folder / "view.css").read_text(encoding="utf-8"),
             "__JS__": (folder / "view.js").read_text(encoding="utf-8"),
             "__DATA__": data}
    # One pass, so that a marker inside the inserted text (a file name, say) stays as it is.
    return re.sub("|".join(parts), lambda found: parts[found.group(0)],
                  (folder / "view.html").read_text(encoding="utf-8"))


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
