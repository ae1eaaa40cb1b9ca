"""Which of the core's own lines the command line shows: what a user must act on (warnings
and rules no solution meets) always, the search's inner workings only with --verbose."""

from __future__ import annotations

import contextlib
import json
import re
import sys
from collections.abc import Iterator
from typing import Any

import _pyploxa_core as core
from ploxa.logs import WARNING_TAGS, SeriesCap

NO_ASSIGNMENT = "the instance has no assignment constraint: every agent type may serve every node"
NODE_WITHOUT_ASSIGNMENT = re.compile(r"\[warning\] node \d+ has no assignment constraint; "
                                     r"allowing all types")


def has_assignment(text: bytes | str) -> bool:
    """Whether the instance has an assignment constraint object (unreadable text: True, so
    that nothing is said about it)."""
    try:
        instance: Any = json.loads(text)
        constraints = instance.get("constraints") or []
        return any(isinstance(c, dict) and c.get("kind") == "assignment" for c in constraints)
    except (ValueError, AttributeError, TypeError):
        return True


class UserLines:
    """Passes the lines a user needs on to `sink`; with `verbose`, every line. An instance
    without any assignment constraint gets one line for it instead of one per node."""

    def __init__(self, sink: SeriesCap, verbose: bool, assignment: bool) -> None:
        self.sink = sink
        self.verbose = verbose
        self.assignment = assignment
        self.noted = False

    def __call__(self, line: str) -> None:
        if not self.assignment and NODE_WITHOUT_ASSIGNMENT.fullmatch(line):
            if not self.noted:
                self.noted = True
                self.sink(f"[warning] {NO_ASSIGNMENT}")
            return
        if self.verbose or line.startswith(WARNING_TAGS):
            self.sink(line)


@contextlib.contextmanager
def core_lines_to_stderr(text: bytes | str, verbose: bool) -> Iterator[SeriesCap]:
    """Sends the core's lines that a user needs to standard error, so that standard output
    holds only the summary; of a run of lines that differ only in their numbers, the first
    five and a count."""
    lines = SeriesCap(print_to_stderr)
    core.set_log_handler(UserLines(lines, verbose, has_assignment(text)))
    try:
        yield lines
    finally:
        core.set_log_handler(None)
        lines.flush()


def print_to_stderr(line: str) -> None:
    print(line, file=sys.stderr, flush=True)
