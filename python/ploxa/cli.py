"""Command line of the Ploxa solver.

    python -m ploxa solve INSTANCE.json [--time-limit S] [--no-improve] [--seed N]
                          [--memory-limit MIB] [--output FILE] [--format json|vrplib]
                          [--plot FILE.png] [--quiet] [--verbose]
                          [--view [--port N] [--no-browser]]
    python -m ploxa view INSTANCE.json [RESULT.json] [--port N] [--no-browser] [--html OUT.html]
                         [--clock HH:MM] [--time-unit min|s]
    python -m ploxa validate INSTANCE.json
    python -m ploxa plot INSTANCE.json RESULT.json --output FILE.png [--size WxH] [--labels]
                         [--times] [--clock HH:MM] [--time-unit min|s]
    python -m ploxa batch INSTANCE.json... --output-dir DIR [--workers N] [--time-limit S]
                          [--no-improve] [--scheduler ADDRESS]
    python -m ploxa convert FILE [--agents M] [--objective min_max|min_sum] [--matrix]
                            [--round] [--node-ids file|index] [--time-limit S] [--output FILE]

solve --format vrplib writes --output as a VRPLIB solution instead of the result dictionary.
"""

import argparse
import json
import math
import os
import sys
from collections.abc import Sequence
from typing import Any, NoReturn

import _pyploxa_core as core
from ploxa.formats import (FormatError, VrplibMissing, file_to_instance, vrplib_module,
                           write_vrplib_solution)
from ploxa.logs import SeriesCap
from ploxa.results import SolveResult
from ploxa.cli_files import InputError, read_instance, shown, write_text
from ploxa.cli_lines import NO_ASSIGNMENT, core_lines_to_stderr, has_assignment
from ploxa.cli_view import (add_plot_options, add_view_options, live_view, run_view,
                            serve_until_interrupted)
from ploxa.view import progress_event

# Errors the module raises for input it cannot use: missing or unreadable files and JSON
# problems (RuntimeError), invalid instances (ValueError, IndexError).
INPUT_ERRORS = (RuntimeError, ValueError, IndexError, OSError)


class Parser(argparse.ArgumentParser):
    """Reports a wrong command line in one line, with exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: error: {message}\n")


def solving_options() -> Parser:
    """The options of solve and batch."""
    common = Parser(add_help=False)
    common.add_argument("--time-limit", type=seconds, default=-1,
                        help="processor-time budget of each solve in seconds (default: the "
                             "instance's)")
    common.add_argument("--no-improve", dest="improve", action="store_false",
                        help="run the plain search only, without the improvement stage")
    common.add_argument("--no-enforce", dest="enforce", action="store_false",
                        help="read capacities, demands and sequence pairs without enforcing "
                             "them")
    return common


def page_options() -> Parser:
    """The options of view and solve --view."""
    common = Parser(add_help=False)
    common.add_argument("--port", type=count_value, default=0,
                        help="port of the page on 127.0.0.1 (default: a free one)")
    common.add_argument("--no-browser", dest="browser", action="store_false",
                        help="print the page's address without opening a browser")
    return common


def build_parser() -> argparse.ArgumentParser:
    parser = Parser(prog="python -m ploxa", description=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    solving, page = solving_options(), page_options()
    solve = commands.add_parser("solve", help="solve a JSON instance and print a summary",
                                parents=[solving, page])
    solve.add_argument("instance", help="instance file in the JSON format")
    solve.add_argument("--seed", type=count_value, default=None,
                       help="seed of the improvement stage (default: the instance's, else 0)")
    solve.add_argument("--memory-limit", type=count_value, default=None, metavar="MIB",
                       help="stop the search when the process holds this many MiB "
                            "(default: the instance's, else 4096; 0 for none)")
    solve.add_argument("--output", help="also write the result to this file")
    solve.add_argument("--format", choices=["json", "vrplib"], default="json",
                       help="what --output holds: the result dictionary as JSON (default), or "
                            "a VRPLIB solution (needs vrplib), one 'Route #k:' line of node ids per "
                            "non-empty route and 'Cost: <total>', written only when a solution "
                            "is found")
    solve.add_argument("--threads", type=count_value, default=0, metavar="N",
                       help="threads of the improvement stage (default 0: every core); with "
                            "more than one, each has the time limit on its own clock, so the "
                            "solve takes about the time limit in wall-clock time")
    solve.add_argument("--initial", metavar="RESULT.json",
                       help="start from the routes of a result written by solve --output")
    solve.add_argument("--plot", metavar="FILE.png", help="also draw the solution (needs matplotlib)")
    solve.add_argument("--quiet", action="store_true",
                       help="no live line per improvement on standard error, only the summary")
    solve.add_argument("--verbose", action="store_true",
                       help="also show the search's own lines on standard error, not only "
                            "warnings")
    solve.add_argument("--view", action="store_true",
                       help="show the solve in the browser, each improvement as it is found, "
                            "and keep the page served after it until Ctrl-C")
    solve.set_defaults(run=run_solve)
    view = commands.add_parser("view", help="show an instance and a result in the browser",
                               parents=[page])
    view.add_argument("instance", help="instance file in the JSON format")
    view.add_argument("result", nargs="?", help="result file written by solve --output")
    view.add_argument("--html", metavar="OUT.html",
                      help="write the page as one file instead of serving it")
    view.set_defaults(run=run_view)
    add_view_options(view)
    plot = commands.add_parser("plot", help="draw a solution: routes and the anytime curve")
    plot.add_argument("instance", help="instance file in the JSON format")
    plot.add_argument("result", help="result file written by solve --output")
    plot.add_argument("--output", required=True, metavar="FILE.png", help="picture to write")
    plot.add_argument("--size", type=pixel_size, default=(1200, 600), metavar="WxH",
                      help="picture size in pixels (default 1200x600)")
    plot.add_argument("--times", action="store_true",
                      help="label each stop with the start of its service")
    plot.set_defaults(run=run_plot)
    add_plot_options(plot)
    batch = commands.add_parser("batch", help="solve many instances in parallel processes",
                                parents=[solving])
    batch.add_argument("instances", nargs="+", help="instance files in the JSON format")
    batch.add_argument("--output-dir", required=True,
                       help="folder for one result file per instance and summary.csv")
    batch.add_argument("--workers", type=positive_count, default=os.cpu_count() or 1,
                       help="solves at a time (default: one per core)")
    batch.add_argument("--scheduler", metavar="ADDRESS",
                       help="run on this Dask scheduler instead of local processes (needs dask)")
    batch.set_defaults(run=run_batch)
    validate = commands.add_parser("validate", help="list the errors and warnings of an instance")
    validate.add_argument("instance", help="instance file in the JSON format")
    validate.add_argument("--no-enforce", dest="enforce", action="store_false",
                          help="check as a solve that does not enforce capacities, demands "
                               "and sequence pairs would")
    validate.set_defaults(run=run_validate)
    convert = commands.add_parser(
        "convert", help="turn a TSPLIB, VRPLIB or Solomon file into a JSON instance",
        description="Turns a TSPLIB, VRPLIB or Solomon file (a Solomon file is recognised by its "
                    "content: a name line, then VEHICLE) into a JSON instance; needs the vrplib "
                    "package. Every agent starts and ends at the depot (the node at the place "
                    "DEPOT_SECTION gives, 1 for the first; else the first node). Node ids are 0, 1, ... in file order (the "
                    "numbering of published VRPLIB solutions); --node-ids file keeps the file's "
                    "numbers. Capacities, demands, DISTANCE (as "
                    "max_length), time windows, service times (as the nodes' \"service\") and "
                    "pick-up-and-delivery pairs are carried over; a file with time windows is "
                    "billed by travel (\"route_cost\": \"travel\").")
    convert.add_argument("file", help="TSPLIB, VRPLIB or Solomon instance file")
    convert.add_argument("--agents", type=positive_count, default=None,
                         help="number of agents (default: the file's VEHICLES, else the k of a "
                              "'-kNN' name)")
    convert.add_argument("--objective", choices=["min_max", "min_sum"], default=None,
                         help="default: min_sum for files with demands or pick-up-and-delivery "
                              "pairs, min_max otherwise")
    convert.add_argument("--time-limit", type=seconds, default=60.0,
                         help="processor-time budget written into the instance")
    convert.add_argument("--matrix", action="store_true",
                         help="write the full cost matrix instead of a Euclidean metric (always "
                              "done with --fold-service, --round or an explicit matrix)")
    convert.add_argument("--fold-service", action="store_true",
                         help="fold service times into the costs, cost(i, j) = travel(i, j) + "
                              "service(i), instead of writing them as the nodes' \"service\"")
    convert.add_argument("--round", action="store_true",
                         help="round travel distances to the nearest whole number, the "
                              "convention of the published CVRPLIB values")
    convert.add_argument("--node-ids", choices=["file", "index"], default=None,
                         help="node ids: the file's node numbers, or 0, 1, ... in file order "
                              "(the numbering of the published VRPLIB solutions); default: "
                              "index")
    convert.add_argument("--output", help="JSON file to write (default: standard output)")
    convert.set_defaults(run=run_convert)
    return parser


def count_value(text: str) -> int:
    """A seed, a thread count or a memory size: a whole number from 0 to 2**64 - 1."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if not 0 <= value < 2**64:
        raise argparse.ArgumentTypeError(f"not between 0 and 2**64 - 1: {text}")
    return value


def positive_count(text: str) -> int:
    """A number of workers or agents: a whole number of at least 1."""
    value = count_value(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: {text}")
    return value


def seconds(text: str) -> float:
    """A time budget: a positive finite number of seconds."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError(f"not a positive finite number of seconds: {text}")
    return value


def pixel_size(text: str) -> tuple[int, int]:
    """A picture size such as 1200x600."""
    try:
        width, height = (int(part) for part in text.lower().split("x"))
    except ValueError:
        raise argparse.ArgumentTypeError(f"not WIDTHxHEIGHT: {text!r}") from None
    if width < 100 or height < 100:
        raise argparse.ArgumentTypeError(f"at least 100x100 pixels: {text}")
    return width, height


STOP_NOTES = {
    "time_limit": " (time limit reached)",
    "memory_limit": " (memory limit reached)",
    "interrupted": " (interrupted)",
}

FAILURE_REASONS = {
    "completed": "the search ended without a feasible solution",
    "infeasible": "no plan exists: some stops fit on no route at all",
    "phase_limit": "the search used all its phases without a feasible solution",
    "time_limit": "no feasible solution within the time limit",
    "memory_limit": "no feasible solution before the memory limit",
    "interrupted": "interrupted before a feasible solution was found",
}


def summary_lines(path: str, result: SolveResult) -> list[str]:
    stats = result["statistics"]
    lines = [f"{path}: {result['status']}" + STOP_NOTES.get(str(result.get("stop_reason")), "")]
    for route in result["routes"]:
        stops = " -> ".join(str(node) for node in route["node_ids"])
        times = (f", leaves {route['start_time']:.6g}, back {route['end_time']:.6g}"
                 if len(route["node_ids"]) > 2 and "start_time" in route else "")
        if len(route["node_ids"]) > 2 and "distance" in route:
            times += f", distance {route['distance']:.6g}, duration {route['duration']:.6g}"
        lines.append(f"  agent {route['agent_id']}: {stops or '(no route)'}  "
                     f"cost {route['cost']:.6g}{times}")
    fixed = f", fixed costs {stats['fixed_cost']:.6g}" if stats.get("fixed_cost") else ""
    fixed += f", prizes lost {stats['lost_prize']:.6g}" if stats.get("lost_prize") else ""
    if "distance" in stats:
        fixed += f", distance {stats['distance']:.6g}, duration {stats['duration']:.6g}"
    lines.append(f"longest route {stats['max_cost']:.6g}, total {stats['sum_cost']:.6g}{fixed}")
    lines.append(f"solve time {stats['solve_time']:.3f} s, {stats['n_generated']} labels generated, "
                 f"{stats['n_expanded']} expanded" +
                 (f", routes from the {stats['method']}" if stats.get("method") else ""))
    if result["anytime"]:
        lines.append("improvements (processor seconds, longest, total):")
        for step in result["anytime"]:
            lines.append(f"  {step['time']:8.3f} s  {step['max_cost']:.6g}  {step['sum_cost']:.6g}")
    return lines


def live_line(report: core.Progress) -> None:
    """One line per improvement while the solve runs."""
    print(f"{report.time:9.3f} s  longest {report.longest:.6g}  total {report.total:.6g}  "
          f"({report.source})", file=sys.stderr, flush=True)


def run_solve(args: argparse.Namespace) -> int:
    if args.format == "vrplib" and not args.output:
        raise InputError("--format vrplib needs --output FILE")
    if args.format == "vrplib":
        require_vrplib()
    text = read_instance(args.instance)
    if args.initial:
        text = with_initial_routes(args.instance, text, args.initial)
    if args.plot:
        require_matplotlib()
    server = live_view(args, text) if args.view else None
    interrupted = False
    try:
        with core_lines_to_stderr(text, args.verbose) as core_lines:
            def progress(report: core.Progress) -> None:
                core_lines.flush()  # the count of a held-back series goes before live lines
                if not args.quiet:
                    live_line(report)
                if server is not None:
                    server.log.publish("progress", progress_event(report))

            result = core.solve_json_str(text, time_limit=args.time_limit, improve=args.improve,
                                         seed=args.seed, memory_limit=args.memory_limit,
                                         progress=None if args.quiet and not server else progress,
                                         enforce_capacity=args.enforce,
                                         enforce_sequence=args.enforce, threads=args.threads,
                                         release_gil=server is not None)
    except KeyboardInterrupt as interrupt:
        partial: SolveResult | None = getattr(interrupt, "result", None)
        if partial is None:
            raise
        result, interrupted = partial, True
    except INPUT_ERRORS as error:
        if server is not None:
            server.close()
        raise InputError(f"{shown(args.instance)}: {error}") from error
    code = report_solve(args, text, result, interrupted)
    if server is None:
        return code
    if interrupted:
        server.close()
        return code
    server.log.publish("result", result)
    return serve_until_interrupted(server, code)


def report_solve(args: argparse.Namespace, text: bytes, result: SolveResult,
                 interrupted: bool) -> int:
    """Prints why a solve failed, then the summary, writes what was asked for, and gives the
    exit status."""
    failed = not interrupted and result["status"] not in ("success", "partial")
    if failed:
        reason = FAILURE_REASONS.get(result["stop_reason"], result["stop_reason"])
        print(f"ploxa: failed: {reason}", file=sys.stderr)
    if not interrupted:
        for stop in result.get("unassigned", []):
            print(f"ploxa: node {stop['node']} fits nowhere: {stop['reason']}", file=sys.stderr)
    print("\n".join(summary_lines(shown(args.instance), result)))
    if args.output and args.format == "json":
        write_result(args.output, result)
    elif args.output and result["status"] in ("success", "partial"):
        write_solution(args.output, json.loads(text), result)
    if args.plot:
        draw(json.loads(text), result, args.plot, (1200, 600))
    if interrupted:
        return 130
    return 1 if failed else 0


def with_initial_routes(instance_path: str, text: bytes, result_path: str) -> bytes:
    """The instance's text with the routes of a saved result as its "initial_routes"."""
    try:
        instance = json.loads(text)
        result = json.loads(read_instance(result_path))
    except ValueError as error:
        raise InputError(f"{shown(result_path)}: {error}") from error
    routes = result.get("routes") if isinstance(result, dict) else None
    if not isinstance(instance, dict) or not isinstance(routes, list) or not routes:
        raise InputError(f"{shown(result_path)}: holds no routes to start from")
    try:
        instance["initial_routes"] = [{"agent_id": route["agent_id"], "node_ids": route["path"]}
                                      for route in routes]
    except (KeyError, TypeError) as error:
        raise InputError(f"{shown(result_path)}: not a result of {shown(instance_path)} "
                         f"({type(error).__name__}: {error})") from error
    return json.dumps(instance).encode("utf-8")


def write_result(path: str, result: SolveResult) -> None:
    write_text(path, json.dumps(result, indent=2) + "\n")


def require_vrplib() -> None:
    try:
        vrplib_module()
    except VrplibMissing as error:
        raise InputError(str(error)) from None


def write_solution(path: str, instance: dict[str, Any], result: SolveResult) -> None:
    try:
        write_vrplib_solution(path, instance, result)
    except OSError as error:
        raise InputError(f"{shown(path)}: {error.strerror}") from error


def require_matplotlib() -> None:
    from ploxa.plot import PlotUnavailable, _pyplot
    try:
        _pyplot()
    except PlotUnavailable as error:
        raise InputError(str(error)) from None


def draw(instance: dict[str, Any], result: SolveResult, output: str,
         size: tuple[int, int], times: bool = False) -> None:
    from ploxa.plot import plot_solution
    try:
        plot_solution(instance, result, output, size, times=times)
    except OSError as error:
        raise InputError(f"{shown(output)}: {error.strerror}") from error


def run_plot(args: argparse.Namespace) -> int:
    require_matplotlib()
    documents = []
    for path in (args.instance, args.result):
        try:
            documents.append(json.loads(read_instance(path)))
        except ValueError as error:
            raise InputError(f"{shown(path)}: {error}") from error
    instance, result = documents
    try:
        draw(instance, result, args.output, args.size, args.times)
    except (KeyError, IndexError, TypeError, ValueError) as error:
        raise InputError(f"{shown(args.result)}: not a result of {shown(args.instance)} "
                         f"({type(error).__name__}: {error})") from error
    return 0


def run_batch(args: argparse.Namespace) -> int:
    from ploxa.batch import ProgressBar, solve_many
    client: Any = None
    if args.scheduler:
        try:
            from dask import distributed
        except ImportError:
            raise InputError("dask is not installed; install it with: pip install '.[cluster]' "
                             "(or pip install 'dask[distributed]')") from None
        try:
            # dask has no type information: its client is taken as untyped.
            client_class: Any = distributed.Client
            client = client_class(args.scheduler, timeout="10s")
        except OSError as error:
            raise InputError(f"{args.scheduler}: {error}") from error
    try:
        rows = solve_many(args.instances, args.time_limit, args.workers, improve=args.improve,
                          enforce=args.enforce, output_dir=args.output_dir, client=client, on_done=ProgressBar())
    except KeyboardInterrupt as interrupt:
        rows = getattr(interrupt, "rows", [])
        print(f"ploxa: interrupted; {len(rows)} finished results kept in {args.output_dir}",
              file=sys.stderr)
        return 130
    except OSError as error:
        # The output folder or summary.csv; every result that could be written is saved.
        raise InputError(f"{shown(str(error.filename or args.output_dir))}: "
                         f"{error.strerror or error}") from error
    finally:
        if client is not None:
            client.close()
    solved = sum(row["status"] == "success" for row in rows)
    print(f"{solved} of {len(rows)} instances solved; results and summary.csv in {args.output_dir}")
    for row in rows:
        if row["status"] != "success":
            print(f"  {row['instance']}: {row['status']}: {row['error']}")
    return 0 if solved == len(rows) else 1


def run_validate(args: argparse.Namespace) -> int:
    text = read_instance(args.instance)
    try:
        findings = core.check_json_str(text, enforce_capacity=args.enforce,
                                       enforce_sequence=args.enforce)
    except INPUT_ERRORS as error:
        findings = [("error", str(error))]
    if not has_assignment(text):
        findings = findings + [("warning", NO_ASSIGNMENT)]
    lines = SeriesCap(print)
    for kind, message in findings:
        lines(f"{shown(args.instance)}: {kind}: {message}")
    lines.flush()
    errors = sum(kind == "error" for kind, _ in findings)
    print(f"{shown(args.instance)}: {errors} error(s), {len(findings) - errors} warning(s)")
    return 1 if errors else 0


def run_convert(args: argparse.Namespace) -> int:
    try:
        instance = file_to_instance(args.file, args.agents, args.objective, args.time_limit,
                                    matrix=args.matrix, round_costs=args.round,
                                    node_ids=args.node_ids, fold_service=args.fold_service)
    except VrplibMissing as error:
        raise InputError(str(error)) from None
    except (OSError, FormatError) as error:
        raise InputError(f"{shown(args.file)}: {getattr(error, 'strerror', None) or error}") from error
    text = json.dumps(instance) + "\n"
    if args.output:
        write_text(args.output, text)
    else:
        sys.stdout.write(text)
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        return int(args.run(args))
    except InputError as error:
        print(f"ploxa: error: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("ploxa: interrupted", file=sys.stderr)
        return 130
