"""Builds a small instance in Python, solves it and prints each agent's route.

Two robots share a charging dock (node 0) and must inspect six stations; one station only
opens late in the shift. Run with the project's environment: .venv/bin/python examples/build_problem.py
"""

import math

import ploxa

STATIONS = {0: (0, 0), 1: (4, 3), 2: (8, 1), 3: (7, -4), 4: (-3, 5), 5: (-6, -2), 6: (-2, -6)}

problem = ploxa.Problem()
for node_id, (x, y) in STATIONS.items():
    node = ploxa.Node()
    node.id = node_id
    node.position.x, node.position.y = x, y
    node.type = ploxa.NodeType.DEPOT if node_id == 0 else ploxa.NodeType.TARGET
    problem.add_node(node)

for robot_id in (1, 2):
    robot = ploxa.Agent()
    robot.id = robot_id
    robot.type = "robot"
    robot.start_node = robot.end_node = 0
    problem.add_agent(robot, robot_id)

points = list(STATIONS.values())
problem.set_cost_matrix("robot", [[math.dist(a, b) for b in points] for a in points])

everyone = ploxa.AssignmentConstraint()
for node_id in STATIONS:
    everyone.set_assignment(node_id, ["robot"])
problem.set_assignment_constraint(everyone)

late_shift = ploxa.TimeWindowConstraint()
late_shift.set_timewindow(node=3, start=10.0, end=40.0)
problem.set_timewindow_constraint(late_shift)

options = problem.options()
options.objective = ploxa.ObjectiveType.MinMax
options.time_limit = 2.0
options.improve = True  # improve the search's routes within the same budget

solver = ploxa.Solver(problem, options)
if solver.solve() != 1:
    raise SystemExit("no solution found")
result = solver.get_result()
node_ids = list(STATIONS)
for agent_index, path in sorted(result.paths.items()):
    stops = " -> ".join(str(node_ids[v]) for v in path)
    print(f"robot {agent_index + 1}: {stops}  (cost {result.times[agent_index]:.2f})")
print(f"{len(solver.get_result_process())} solution states recorded, "
      f"{result.n_generated} labels generated")
