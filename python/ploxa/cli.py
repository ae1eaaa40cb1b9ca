"""Command line of the Ploxa solver.

    python -m ploxa solve INSTANCE.json [--time-limit S] [--no-improve] [--seed N]
                          [--memory-limit MIB] [--output FILE]
    python -m ploxa validate INSTANCE.json
    python -m ploxa convert FILE.tsp --agents M [--objective min_max|min_sum] [--output FILE]
"""

import argparse
import contextlib
import json
import os
import sys

import _pyploxa_core as core
from ploxa.tsplib import TsplibError, tsplib_to_instance

# Errors the module raises for input it cannot use: missing or unreadable files and JSON
# problems (RuntimeError), invalid instances (ValueError, IndexError).
INPUT_ERRORS = (RuntimeError, ValueError, IndexError, OSError)


class InputError(Exception):
    """Bad input, reported as one line and exit status 2."""


def build_parser():
    parser = argparse.ArgumentParser(prog="python -m ploxa", description=__doc__)
    commands = parser.add_subparsers(dest="command", required=True)
    solve = commands.add_parser("solve", help="solve a JSON instance and print a summary")
    solve.add_argument("instance", help="instance file in the JSON format")
    solve.add_argument("--time-limit", type=float, default=-1,
                       help="processor-time budget in seconds (default: the instance's)")
    solve.add_argument("--no-improve", dest="improve", action="store_false",
                       help="run the plain search only, without the improvement stage")
    solve.add_argument("--seed", type=seed_value, default=None,
                       help="seed of the improvement stage (default: the instance's, else 0)")
    solve.add_argument("--memory-limit", type=int, default=None, metavar="MIB",
                       help="stop the search when the process holds this many MiB "
                            "(default: the instance's, else 4096; 0 for none)")
    solve.add_argument("--output", help="also write the result dictionary to this JSON file")
    solve.set_defaults(run=run_solve)
    validate = commands.add_parser("validate", help="list the errors and warnings of an instance")
    validate.add_argument("instance", help="instance file in the JSON format")
    validate.set_defaults(run=run_validate)
    convert = commands.add_parser("convert", help="turn a TSPLIB EUC_2D file into a JSON instance")
    convert.add_argument("tsplib", help="TSPLIB file with EDGE_WEIGHT_TYPE EUC_2D")
    convert.add_argument("--agents", type=int, required=True, help="number of agents")
    convert.add_argument("--objective", choices=["min_max", "min_sum"], default="min_max")
    convert.add_argument("--time-limit", type=float, default=60.0,
                         help="processor-time budget written into the instance")
    convert.add_argument("--output", help="JSON file to write (default: standard output)")
    convert.set_defaults(run=run_convert)
    return parser


def seed_value(text):
    """A seed: a whole number from 0 to 2**64 - 1."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if not 0 <= value < 2**64:
        raise argparse.ArgumentTypeError(f"not between 0 and 2**64 - 1: {text}")
    return value


def node_ids(text):
    """Node ids in vertex order, as the solver numbers them, from an instance it has read."""
    document = json.loads(text)
    nodes = document["nodes"]
    if isinstance(nodes, dict):  # members are taken in key order
        nodes = [nodes[key] for key in sorted(nodes)]
    return [int(node["id"]) for node in nodes]


STOP_NOTES = {
    "time_limit": " (time limit reached)",
    "memory_limit": " (memory limit reached)",
    "interrupted": " (interrupted)",
}

FAILURE_REASONS = {
    "completed": "the search ended without a feasible solution",
    "phase_limit": "the search used all its phases without a feasible solution",
    "time_limit": "no feasible solution within the time limit",
    "memory_limit": "no feasible solution before the memory limit",
    "interrupted": "interrupted before a feasible solution was found",
}


def summary_lines(path, result, ids):
    stats = result["statistics"]
    lines = [f"{path}: {result['status']}" + STOP_NOTES.get(result.get("stop_reason"), "")]
    for route in result["routes"]:
        stops = " -> ".join(str(ids[v]) if 0 <= v < len(ids) else f"#{v}" for v in route["path"])
        lines.append(f"  agent {route['agent_id']}: {stops or '(no route)'}  cost {route['cost']:.6g}")
    lines.append(f"longest route {stats['max_cost']:.6g}, total {stats['sum_cost']:.6g}")
    lines.append(f"solve time {stats['solve_time']:.3f} s, {stats['n_generated']} labels generated, "
                 f"{stats['n_expanded']} expanded")
    if result["anytime"]:
        lines.append("improvements (processor seconds, longest, total):")
        for step in result["anytime"]:
            lines.append(f"  {step['time']:8.3f} s  {step['max_cost']:.6g}  {step['sum_cost']:.6g}")
    return lines


@contextlib.contextmanager
def core_output_to_stderr():
    """Sends what the core prints on standard output to standard error, so that standard
    output holds only the summary."""
    sys.stdout.flush()
    saved = os.dup(1)
    os.dup2(2, 1)
    try:
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)


def read_instance(path):
    """The instance file's bytes; the core reads them, whatever the name's encoding."""
    try:
        with open(path, "rb") as f:
            text = f.read()
    except OSError as error:
        raise InputError(f"{shown(path)}: {error.strerror}") from error
    try:
        text.decode("utf-8")
    except UnicodeDecodeError as error:
        raise InputError(f"{shown(path)}: not UTF-8 text (byte {error.start})") from error
    return text


def run_solve(args):
    text = read_instance(args.instance)
    interrupted = False
    try:
        with core_output_to_stderr():
            result = core.solve_json_str(text, time_limit=args.time_limit, improve=args.improve,
                                         seed=args.seed, memory_limit=args.memory_limit)
    except KeyboardInterrupt as interrupt:
        result = getattr(interrupt, "result", None)
        if result is None:
            raise
        interrupted = True
    except INPUT_ERRORS as error:
        raise InputError(f"{shown(args.instance)}: {error}") from error
    print("\n".join(summary_lines(shown(args.instance), result, node_ids(text))))
    if args.output:
        write_result(args.output, result)
    if interrupted:
        return 130
    if result["status"] != "success":
        reason = FAILURE_REASONS.get(result["stop_reason"], result["stop_reason"])
        print(f"ploxa: failed: {reason}", file=sys.stderr)
        return 1
    return 0


def write_result(path, result):
    try:
        with open(path, "w", encoding="utf-8") as f:
            json.dump(result, f, indent=2)
            f.write("\n")
    except OSError as error:
        raise InputError(f"{shown(path)}: {error.strerror}") from error


def shown(path):
    """A path as printable text, undecodable bytes written as escapes."""
    return path.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


def run_validate(args):
    text = read_instance(args.instance)
    try:
        findings = core.check_json_str(text)
    except INPUT_ERRORS as error:
        findings = [("error", str(error))]
    for kind, message in findings:
        print(f"{shown(args.instance)}: {kind}: {message}")
    errors = sum(kind == "error" for kind, _ in findings)
    print(f"{shown(args.instance)}: {errors} error(s), {len(findings) - errors} warning(s)")
    return 1 if errors else 0


def run_convert(args):
    try:
        instance = tsplib_to_instance(args.tsplib, args.agents, args.objective, args.time_limit)
    except (OSError, TsplibError) as error:
        raise InputError(f"{shown(args.tsplib)}: {getattr(error, 'strerror', None) or error}") from error
    text = json.dumps(instance) + "\n"
    if not args.output:
        sys.stdout.write(text)
        return 0
    try:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as error:
        raise InputError(f"{shown(args.output)}: {error.strerror}") from error
    return 0


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        return args.run(args)
    except InputError as error:
        print(f"ploxa: error: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("ploxa: interrupted", file=sys.stderr)
        return 130
