"""The shape of the result dictionary that solve_json_str and solve_json_file return, for
type checkers (at run time these are plain dicts)."""

from typing import Literal, NotRequired, TypedDict


class ScheduleStop(TypedDict):
    node: int
    arrival: float
    start: float          # start of service: the arrival, or later when the window opens


class Route(TypedDict):
    agent_id: int
    path: list[int]       # positions of the nodes in the instance's "nodes"
    cost: float
    node_ids: list[int]   # the same stops as node ids, the agent's start and end included
    # When the route happens; absent for routes that wait for one another under task order.
    start_time: NotRequired[float]
    end_time: NotRequired[float]
    travel: NotRequired[float]
    schedule: NotRequired[list[ScheduleStop]]
    # Routes priced by distance and duration: both, the duration from departure to the end.
    distance: NotRequired[float]
    duration: NotRequired[float]


class Statistics(TypedDict):
    solve_time: float
    max_cost: float
    sum_cost: float
    n_generated: int
    n_expanded: int
    last_update_time: float
    method: str
    fixed_cost: float
    lost_prize: float
    # Routes priced by distance and duration: the sums over the routes.
    distance: NotRequired[float]
    duration: NotRequired[float]


class AnytimeStep(TypedDict):
    time: float
    max_cost: float
    sum_cost: float


class UnassignedStop(TypedDict):
    node: int
    reason: str


class SolveResult(TypedDict):
    status: Literal["success", "partial", "failed"]
    timeout: bool
    routes: list[Route]
    statistics: Statistics
    anytime: list[AnytimeStep]
    stop_reason: Literal["completed", "time_limit", "memory_limit", "interrupted",
                         "phase_limit", "infeasible"]
    unassigned: list[UnassignedStop]
