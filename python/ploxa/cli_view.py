"""The command line's page in the browser: view, and the server of solve --view."""

import argparse
import json
import sys
import time
import webbrowser
from pathlib import Path
from typing import Any, TextIO

import _pyploxa_core as core
from ploxa.cli_files import InputError, read_instance, shown, write_text
from ploxa.view import ViewServer, page_html


def live_view(args: argparse.Namespace, text: bytes) -> ViewServer:
    """The page of solve --view, served before the solve starts; its address on standard
    error, since standard output holds only the summary."""
    page = page_html(checked_instance(args.instance, text), None, Path(args.instance).name, live=True)
    return open_page(page, args.port, args.browser, sys.stderr)


def open_page(page: str, port: int, browser: bool, out: TextIO) -> ViewServer:
    try:
        server = ViewServer(page, port).start()
    except (OSError, OverflowError) as error:
        raise InputError(f"port {port}: {getattr(error, 'strerror', None) or error}") from error
    print(f"ploxa: the page is at {server.url}", file=out, flush=True)
    if browser:
        webbrowser.open(server.url)
    return server


def serve_until_interrupted(server: ViewServer, code: int) -> int:
    """Keeps the page served until Ctrl-C, then gives `code`: ending the page is how the
    command is meant to end, not an interruption of its work."""
    print("ploxa: the page stays served; Ctrl-C to stop", file=sys.stderr, flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        return code
    finally:
        server.close()


def run_view(args: argparse.Namespace) -> int:
    text = read_instance(args.instance)
    instance = checked_instance(args.instance, text)
    result = None if args.result is None else checked_result(args.result, args.instance,
                                                             instance)
    page = page_html(instance, result, Path(args.instance).name)
    if args.html:
        write_text(args.html, page)
        return 0
    return serve_until_interrupted(open_page(page, args.port, args.browser, sys.stdout), 0)


def checked_instance(path: str, text: bytes) -> dict[str, Any]:
    """The instance, refused with the solver's words when the solver cannot read it at all.
    One it reads but finds errors in (a stop no agent may serve, say) is still worth a look,
    with the result that says what became of it."""
    try:
        core.check_json_str(text)
    except (RuntimeError, ValueError, IndexError) as error:
        raise InputError(f"{shown(path)}: {error}") from error
    instance: dict[str, Any] = json.loads(text)
    return instance


def checked_result(path: str, instance_path: str, instance: dict[str, Any]) -> Any:
    """A result whose routes belong to the instance's agents and go through its nodes."""
    try:
        result = json.loads(read_instance(path))
    except ValueError as error:
        raise InputError(f"{shown(path)}: {error}") from error
    if not (isinstance(result, dict) and isinstance(result.get("routes"), list)):
        raise InputError(f"{shown(path)}: not a result (no list of \"routes\")")
    agents = {agent["id"] for agent in instance["agents"]}
    nodes = {node["id"] for node in instance["nodes"]}
    for route in result["routes"]:
        if not belongs(route, agents, nodes):
            raise InputError(f"{shown(path)}: not a result of {shown(instance_path)} "
                             f"(a route {json.dumps(route)[:60]})")
    return result


def belongs(route: Any, agents: set[int], nodes: set[int]) -> bool:
    if not isinstance(route, dict) or not isinstance(route.get("node_ids"), list):
        return False
    return (isinstance(route.get("agent_id"), int) and route["agent_id"] in agents and
            all(isinstance(stop, int) and stop in nodes for stop in route["node_ids"]))
