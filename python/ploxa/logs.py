"""Where the core's own lines go: standard output and error (the default), a callable, or the
standard logging module."""

from __future__ import annotations

import logging
import re
from collections.abc import Callable

from _pyploxa_core import set_log_handler

# Lines that report something wrong with the instance rather than the solve's course.
WARNING_TAGS = ("[warning]", "[infeasible]")

# How many lines of one series pass before the rest are only counted.
SERIES_SHOWN = 5

NUMBER = re.compile(r"-?\d+(\.\d+)?(e[-+]?\d+)?")


class SeriesCap:
    """Passes lines on to `sink`, but of a run of consecutive lines that differ only in their
    numbers (one warning per node, say) only the first five; the next line of another form,
    or flush(), then passes one line with the count of those held back."""

    def __init__(self, sink: Callable[[str], object], shown: int = SERIES_SHOWN) -> None:
        self.sink = sink
        self.shown = shown
        self.form: str | None = None
        self.seen = 0

    def __call__(self, line: str) -> None:
        form = NUMBER.sub("#", line)
        if form != self.form:
            self.flush()
            self.form = form
        self.seen += 1
        if self.seen <= self.shown:
            self.sink(line)

    def flush(self) -> None:
        held_back = self.seen - self.shown
        if held_back > 0 and self.form is not None:
            tag = self.form.split(" ", 1)[0] + " " if self.form.startswith("[") else ""
            self.sink(f"{tag}... and {held_back} more like the line above")
        self.form, self.seen = None, 0


def log_to_logging(logger: logging.Logger | None = None) -> None:
    """Sends every line of the core to the logger "ploxa" (or the one given): warnings and
    infeasibility notes as WARNING, the rest as DEBUG; of a run of lines that differ only in
    their numbers, the first five and then one line with the count of the rest.
    ``set_log_handler(None)`` undoes it."""
    target = logger or logging.getLogger("ploxa")

    def emit(line: str) -> None:
        level = logging.WARNING if line.startswith(WARNING_TAGS) else logging.DEBUG
        target.log(level, "%s", line)

    set_log_handler(SeriesCap(emit))
