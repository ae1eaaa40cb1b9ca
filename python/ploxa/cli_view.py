"""The command line's pictures of a plan: view, the server of solve --view, and plot."""

import argparse
import json
import sys
import time
import webbrowser
from pathlib import Path
from typing import Any, TextIO

import _pyploxa_core as core
from ploxa.cli_files import InputError, read_instance, shown, write_text
from ploxa.plot import PlotUnavailable, _pyplot, plot_solution
from ploxa.view import TIME_UNITS, ViewServer, clock_start, page_html, result_problem


def add_view_options(view: argparse.ArgumentParser) -> None:
    """The options of view beyond the page's own (--port, --no-browser)."""
    clock_options(view)


def add_plot_options(plot: argparse.ArgumentParser) -> None:
    """The options of plot beyond --output, --size and --times; plot then runs run_plot."""
    plot.add_argument("--labels", action="store_true",
                      help="label each node with its id and each stop with its place along "
                           "its route (#1 the first after the start)")
    clock_options(plot)
    plot.set_defaults(run=run_plot)


def clock_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--clock", metavar="HH:MM", type=clock_option,
                        help="show times as hh:mm, time 0 being this time of day (hours go on "
                             "past midnight: 25:30)")
    parser.add_argument("--time-unit", choices=list(TIME_UNITS), default="min",
                        help="unit of the instance's times for --clock: min (default) or s")


def clock_option(text: str) -> str:
    try:
        clock_start(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None
    return text


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
    page = page_html(instance, result, Path(args.instance).name, clock=args.clock,
                     time_unit=args.time_unit)
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
    problem = result_problem(instance, result)
    if problem:
        raise InputError(f"{shown(path)}: not a result of {shown(instance_path)}: {problem}")
    return result


def run_plot(args: argparse.Namespace) -> int:
    try:
        _pyplot()  # before the files, so that a missing matplotlib is what is reported
    except PlotUnavailable as error:
        raise InputError(str(error)) from None
    instance = checked_instance(args.instance, read_instance(args.instance))
    result = checked_result(args.result, args.instance, instance)
    try:
        plot_solution(instance, result, args.output, args.size, times=args.times,
                      labels=args.labels, clock=args.clock, time_unit=args.time_unit)
    except OSError as error:
        raise InputError(f"{shown(args.output)}: {error.strerror}") from error
    except (KeyError, TypeError, ValueError) as error:
        raise InputError(f"{shown(args.result)}: not a result of {shown(args.instance)} "
                         f"({type(error).__name__}: {error})") from error
    return 0
