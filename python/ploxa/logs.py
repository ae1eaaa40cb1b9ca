"""Where the core's own lines go: standard output and error (the default), a callable, or the
standard logging module."""

from __future__ import annotations

import logging

from _pyploxa_core import set_log_handler

# Lines that report something wrong with the instance rather than the solve's course.
WARNING_TAGS = ("[warning]", "[infeasible]")


def log_to_logging(logger: logging.Logger | None = None) -> None:
    """Sends every line of the core to the logger "ploxa" (or the one given): warnings and
    infeasibility notes as WARNING, the rest as DEBUG. ``set_log_handler(None)`` undoes it."""
    target = logger or logging.getLogger("ploxa")

    def handler(line: str) -> None:
        level = logging.WARNING if line.startswith(WARNING_TAGS) else logging.DEBUG
        target.log(level, "%s", line)

    set_log_handler(handler)
