"""Command line of the Ploxa solver.

    python -m ploxa solve INSTANCE.json [--time-limit S] [--no-improve] [--seed N] [--output FILE]
    python -m ploxa convert FILE.tsp --agents M [--objective min_max|min_sum] [--output FILE]
"""

import argparse
import json
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
    solve.add_argument("--output", help="also write the result dictionary to this JSON file")
    solve.set_defaults(run=run_solve)
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


def node_ids(instance_path):
    """Node ids in vertex order, as the solver numbers them."""
    with open(instance_path, encoding="utf-8") as f:
        document = json.load(f)
    nodes = document["nodes"]
    if isinstance(nodes, dict):  # members are taken in key order
        nodes = [nodes[key] for key in sorted(nodes)]
    return [int(node["id"]) for node in nodes]


def summary_lines(path, result, ids):
    stats = result["statistics"]
    lines = [f"{path}: {result['status']}" + (" (time limit reached)" if result["timeout"] else "")]
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


def run_solve(args):
    try:
        result = core.solve_json_file(args.instance, time_limit=args.time_limit,
                                      improve=args.improve, seed=args.seed)
        ids = node_ids(args.instance)
    except INPUT_ERRORS as error:
        raise InputError(f"{args.instance}: {error}") from error
    print("\n".join(summary_lines(args.instance, result, ids)))
    if args.output:
        try:
            with open(args.output, "w", encoding="utf-8") as f:
                json.dump(result, f, indent=2)
                f.write("\n")
        except OSError as error:
            raise InputError(f"{args.output}: {error.strerror}") from error
    return 0


def run_convert(args):
    try:
        instance = tsplib_to_instance(args.tsplib, args.agents, args.objective, args.time_limit)
    except (OSError, TsplibError) as error:
        raise InputError(f"{args.tsplib}: {getattr(error, 'strerror', None) or error}") from error
    text = json.dumps(instance) + "\n"
    if not args.output:
        sys.stdout.write(text)
        return 0
    try:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as error:
        raise InputError(f"{args.output}: {error.strerror}") from error
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
