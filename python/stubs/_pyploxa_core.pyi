"""Ploxa MTSP Solver — C++ core bindings"""

import typing
from collections.abc import Buffer, Sequence

from ploxa.results import SolveResult

class ObjectiveType:
    MinMax: typing.ClassVar[ObjectiveType]
    MinSum: typing.ClassVar[ObjectiveType]
    __members__: typing.ClassVar[dict[str, ObjectiveType]]
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...
    def __int__(self) -> int: ...

class RouteCostKind:
    Duration: typing.ClassVar[RouteCostKind]
    Travel: typing.ClassVar[RouteCostKind]
    __members__: typing.ClassVar[dict[str, RouteCostKind]]
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...
    def __int__(self) -> int: ...

class StageSearch:
    Anneal: typing.ClassVar[StageSearch]
    Population: typing.ClassVar[StageSearch]
    Auto: typing.ClassVar[StageSearch]
    __members__: typing.ClassVar[dict[str, StageSearch]]
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...
    def __int__(self) -> int: ...

class NodeType:
    DEPOT: typing.ClassVar[NodeType]
    TARGET: typing.ClassVar[NodeType]
    __members__: typing.ClassVar[dict[str, NodeType]]
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...
    def __int__(self) -> int: ...

class Position:
    x: float
    y: float
    z: float
    def __init__(self) -> None: ...

class Node:
    id: int
    position: Position
    type: NodeType
    demand: float
    # Time spent serving the node (targets only).
    service: float
    # An optional stop (required False) may be left out, losing its prize.
    required: bool
    prize: float
    # Loads of several dimensions: the demand per dimension (demand then 0 or the first),
    # amounts loaded at the node, and amounts carried from the start and dropped there.
    # Each is a copy: assign a new list to change it.
    demands: list[float]
    pickup: list[float]
    delivery: list[float]
    def __init__(self) -> None: ...

class Agent:
    id: int
    type: str
    start_node: int
    end_node: int
    capacity_limit: float
    time_limit: float
    # The shift: leave the start no earlier than shift_start, end by shift_end (None: unset).
    shift_start: float | None
    shift_end: float | None
    # The most targets the route may serve (None: no limit).
    max_stops: int | None
    # Added to the min-sum total when the agent serves a target.
    fixed_cost: float
    # With either set, or with durations, the route costs unit_distance_cost (1 when None)
    # times its distance plus unit_duration_cost (0 when None) times its duration.
    unit_distance_cost: float | None
    unit_duration_cost: float | None
    # Limits on the route's distance and duration (None: no limit).
    max_distance: float | None
    max_duration: float | None
    # The capacity per load dimension (capacity_limit then 0 or the first); a copy.
    capacities: list[float]
    def __init__(self) -> None: ...

class Options:
    return_to_end: bool
    objective: ObjectiveType
    time_limit: float
    improve: bool
    seed: int
    max_iterations: int
    stop_when_stalled: bool
    memory_limit: int
    # Node demands against agent capacities; sequence pairs ("same", "diff", precedence).
    enforce_capacity: bool
    enforce_sequence: bool
    # What a route costs: its duration (the default) or its travel alone.
    route_cost: RouteCostKind
    allow_unassigned: bool
    # How the improvement stage searches: Anneal, Population or Auto (the default).
    search: StageSearch
    # How many nearest stops each stop's moves are tried towards in the population search's
    # local search (default 20; 0 is taken as 20).
    neighbours: int
    threads: int
    """Threads of the improvement stage (default 1; 0: every core). With more than one, each
    thread has time_limit processor seconds of its own clock, so a solve takes about
    time_limit seconds of wall-clock time when the cores are free."""
    def __init__(self) -> None: ...

class AssignmentConstraint:
    def __init__(self) -> None: ...
    def set_assignment(self, node: int, types: Sequence[str]) -> None: ...

class TimeWindowConstraint:
    def __init__(self) -> None: ...
    def set_timewindow(self, node: int, start: float, end: float) -> None: ...
    def set_timewindows(self, node: int, windows: Sequence[tuple[float, float]]) -> None:
        """Several windows, sorted and disjoint, as (open, close) pairs: service starts in the
        earliest one the agent can still reach."""

class InitialRoute:
    agent_id: int
    node_ids: list[int]
    pinned: int
    def __init__(self, agent_id: int, node_ids: Sequence[int], pinned: int = 0) -> None: ...

class InputError(ValueError, RuntimeError):
    """A value of an instance that does not fit its field; the message names the field's path
    and the value."""

class Problem:
    def __init__(self) -> None: ...
    def add_node(self, node: Node) -> None: ...
    def add_agent(self, agent: Agent, id: int) -> None:
        """Add a copy of the agent under its own id (ValueError when `id` differs)."""
    def set_cost_matrix(self, agent_type: str,
                        matrix: Sequence[Sequence[float]] | Buffer) -> None:
        """Costs of the agent type: row i, column j is the cost from the i-th to the j-th node
        added. A two-dimensional array (float64, float32 or integers) is read without a
        Python object per entry; a list of rows works too."""
    def set_metric(self, agent_type: str, kind: typing.Literal["euclidean", "manhattan", "haversine"],
                   factor: float = 1.0) -> None: ...
    def set_duration_matrix(self, agent_type: str,
                            matrix: Sequence[Sequence[float]] | Buffer) -> None:
        """Travel times of the agent type apart from its costs: row i, column j is the time
        from the i-th to the j-th node added. With durations, windows, shifts and every time
        follow them and the costs are distances. Arrays or lists, as for set_cost_matrix."""
    def set_duration_metric(self, agent_type: str,
                            kind: typing.Literal["euclidean", "manhattan", "haversine"],
                            factor: float = 1.0, speed: float = 1.0) -> None: ...
    def set_assignment_constraint(self, constraint: AssignmentConstraint) -> None: ...
    def set_timewindow_constraint(self, constraint: TimeWindowConstraint) -> None: ...
    def set_initial_routes(self, routes: Sequence[InitialRoute]) -> None:
        """Routes to start from: each agent's stops in order, of which the first `pinned` are
        visits already made and stay in place. Stops that break a rule where they stand go in
        again where they fit."""
    @property
    def initial_routes(self) -> list[InitialRoute]: ...
    def options(self) -> Options: ...
    def nodes(self) -> list[Node]: ...
    def agents_ordered(self) -> list[Agent]: ...

class Result:
    @property
    def n_generated(self) -> int: ...
    @property
    def n_expanded(self) -> int: ...
    @property
    def timeout(self) -> bool: ...
    @property
    def last_update_time(self) -> float: ...
    @property
    def paths(self) -> dict[int, list[int]]: ...
    @property
    def times(self) -> dict[int, float]: ...
    @property
    def stop_reason(self) -> str: ...
    @property
    def node_ids(self) -> dict[int, list[int]]: ...
    @property
    def method(self) -> typing.Literal["", "search", "search+improvement", "construction",
                                       "construction+improvement"]: ...
    @property
    def fixed_cost(self) -> float: ...
    # The prizes of the optional stops that no route serves.
    @property
    def lost_prize(self) -> float: ...
    @property
    def schedules(self) -> dict[int, dict[str, typing.Any]]:
        """When each route happens, by agent index: start_time, end_time, travel and, per
        target, (arrival, start of service)."""
    @property
    def unassigned(self) -> list[tuple[int, str]]:
        """The stops left out of a partial plan, or found to fit nowhere by a failed solve, as "
           "(node id, reason)."""

class Progress:
    @property
    def time(self) -> float: ...
    @property
    def longest(self) -> float: ...
    @property
    def total(self) -> float: ...
    @property
    def source(self) -> typing.Literal["search", "construction", "improvement"]: ...
    @property
    def routes(self) -> list[list[int]]:
        """Each agent's path as node ids, start and end included, in the agents' order (the
        routes' "node_ids" of the result)."""

class Solver:
    def __init__(self, problem: Problem, options: Options) -> None: ...
    def solve(self, *, progress: typing.Callable[[Progress], object] | None = None,
              release_gil: bool = False) -> int:
        """Run the Ploxa solver. Returns 1 on success, 0 on failure.
        With release_gil=True the interpreter lock is released while the core works (taken
        back only to call progress), so other Python threads run meanwhile."""
    def get_result(self) -> Result: ...
    def get_result_process(self) -> list[tuple[float, Result]]: ...

def solve_json_file(input_path: str, time_limit: float = -1, *, improve: bool | None = None,
                    seed: int | None = None, memory_limit: int | None = None,
                    progress: typing.Callable[[Progress], object] | None = None,
                    enforce_capacity: bool | None = None, enforce_sequence: bool | None = None,
                    threads: int | None = None, release_gil: bool = False
                    ) -> SolveResult:
    """Solve an MTSP instance from a JSON file path.
    Returns a dict with keys: status, routes, statistics, anytime, timeout."""

def solve_json_str(json_str: str | bytes, time_limit: float = -1, *, improve: bool | None = None,
                   seed: int | None = None, memory_limit: int | None = None,
                   progress: typing.Callable[[Progress], object] | None = None,
                   enforce_capacity: bool | None = None, enforce_sequence: bool | None = None,
                   threads: int | None = None, release_gil: bool = False
                   ) -> SolveResult:
    """Solve an MTSP instance from a JSON string.
    Returns a dict with keys: status, routes, statistics, anytime, timeout."""

def instance_keys() -> dict[str, list[str]]:
    """Every key the JSON loader reads, by where it stands ("" is the top level,
    "nodes[]" a node, "timewindow.items[]" an item of that constraint kind, ...)."""

def check_problem(problem: Problem, options: Options | None = None) -> list[tuple[str, str]]:
    """Every error and warning of a problem, without solving it.
    Returns a list of ("error" or "warning", message), errors first."""

def check_json_str(json_str: str | bytes, *, enforce_capacity: bool | None = None,
                   enforce_sequence: bool | None = None) -> list[tuple[str, str]]:
    """Every error and warning of a JSON instance, without solving it.
    Returns a list of ("error" or "warning", message), errors first; text that
    cannot be read as an instance raises as solve_json_str does."""

def set_log_handler(handler: typing.Callable[[str], object] | None) -> None:
    """Send every line the core prints (warnings, notes of the search and the stages) to
    handler(line) instead of standard output and standard error; None restores them.
    The handler is called from the solving thread, one line at a time, without the
    newline. A handler with a flush() method has it called when a solve or a check
    ends."""
