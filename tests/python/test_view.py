"""The page of an instance and its routes: written as one file, served live with its events,
refusing what it cannot draw, and read in headless Chromium."""
import base64
import json
import math
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.request

import pytest

import ploxa
from conftest import DATA, EXAMPLES, NEEDS_MATPLOTLIB, hear_sigint, run_cli, scattered, write_json
from ploxa.plot import plot_solution
from ploxa.view import ViewServer, page_html

EXAMPLE = EXAMPLES / "time_windows.json"
SURVEY = EXAMPLES / "survey_coordinates.json"
CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
WAIT = 60  # seconds: the bound of every wait for a page, a line or a process


def page_data(text):
    return json.loads(re.search(r'<script id="data" type="application/json">(.*?)</script>',
                                text, re.S).group(1))


def served_and_waiting():
    """One agent whose first stop waits for its window, the second has none and the third is
    late for both of its own; times in minutes, or in seconds with --time-unit s."""
    return json.loads((DATA / "served_and_waiting.json").read_text()).values()


def saved(folder, instance, result):
    return write_json(folder / "instance.json", instance), write_json(folder / "result.json", result)


def read_events(stream, count):
    """The first `count` server-sent events of a stream, as (name, data) pairs."""
    events, name = [], None
    while len(events) < count:
        line = stream.readline().decode().rstrip("\n")
        if line.startswith("event: "):
            name = line[len("event: "):]
        elif line.startswith("data: "):
            events.append((name, json.loads(line[len("data: "):])))
    return events


def line_with(stream, text):
    """The first line of an unbuffered stream that holds `text`, waiting WAIT seconds at most."""
    deadline, line = time.monotonic() + WAIT, ""
    while text not in line:
        assert select.select([stream], [], [], max(0, deadline - time.monotonic()))[0], text
        line = stream.readline().decode()
        assert line, f"the stream ended before a line with {text!r}"
    return line.strip()


@pytest.fixture(scope="module")
def solved(tmp_path_factory):
    """The example solved, its result saved and its page written as one file."""
    folder = tmp_path_factory.mktemp("view")
    result = ploxa.solve_json_file(str(EXAMPLE), time_limit=2, improve=True)
    (folder / "result.json").write_text(json.dumps(result))
    run = run_cli("view", EXAMPLE, folder / "result.json", "--html", folder / "page.html",
                  timeout=WAIT)
    assert run.returncode == 0, run.stderr
    return result, folder / "page.html"


class TestThePageWithoutABrowser:
    def test_the_written_page_holds_its_data_and_loads_nothing_from_the_network(self, solved):
        result, page = solved
        text = page.read_text()
        assert not re.search(r"""(src|href)\s*=\s*["']?(https?:)?//|url\(|@import""", text)
        data = page_data(text)
        assert data["result"] == result and data["instance"] == json.loads(EXAMPLE.read_text())

    def test_text_that_would_end_the_data_element_stays_inside_it(self):
        instance = {"nodes": [{"id": 0, "x": 0, "y": 0, "type": "</script><!--<script>"}]}
        assert page_data(page_html(instance, None, "__DATA__"))["instance"] == instance

    def test_the_server_answers_the_page_and_replays_its_events_to_a_late_page(self):
        server = ViewServer(page_html({"nodes": []}, None, "empty", live=True)).start()
        try:
            for step, routes in enumerate(([[0, 1, 0]], [[0, 2, 1, 0]])):
                server.log.publish("progress", {"time": step, "longest": 9 - step,
                                                "total": 9 - step, "routes": routes})
            server.log.publish("result", {"status": "success"})
            with urllib.request.urlopen(server.url, timeout=WAIT) as reply:
                assert page_data(reply.read().decode())["live"] is True
            with urllib.request.urlopen(server.url + "events", timeout=WAIT) as stream:
                assert stream.headers["Content-Type"] == "text/event-stream"
                events = read_events(stream, 3)
        finally:
            server.close()
        assert [name for name, _ in events] == ["progress", "progress", "result"]
        # Only the latest plan is sent again; the curve needs every point.
        assert "routes" not in events[0][1] and events[1][1]["routes"] == [[0, 2, 1, 0]]
        assert [event["longest"] for _, event in events[:2]] == [9, 8]

    def test_view_prints_its_address_serves_the_page_and_ends_with_ctrl_c(self):
        view = subprocess.Popen([sys.executable, "-m", "ploxa", "view", str(EXAMPLE),
                                 "--no-browser"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                bufsize=0, preexec_fn=hear_sigint)
        try:
            url = line_with(view.stdout, "the page is at ").split()[-1]
            with urllib.request.urlopen(url, timeout=WAIT) as reply:
                assert page_data(reply.read().decode())["result"] is None
            # Ctrl-C goes only once the command waits for it, however slow the machine.
            line_with(view.stderr, "the page stays served; Ctrl-C to stop")
            view.send_signal(signal.SIGINT)
            assert view.wait(timeout=WAIT) == 0
        finally:
            view.kill()
            view.wait(timeout=WAIT)
            view.stdout.close()
            view.stderr.close()


FOREIGN = [  # changes that make served_and_waiting's result name what its instance lacks
    (lambda result: result["routes"][0].update(agent_id=6), "agent 6 is not one of its agents"),
    (lambda result: result["routes"][0]["node_ids"].insert(2, 8),
     "node 8 on the route of agent 5 is not one of its nodes"),
    (lambda result: result["unassigned"].append({"node": 3, "reason": "gone"}),
     "unassigned node 3 is not one of its nodes"),
]


@pytest.fixture
def busy_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        s.listen()
        yield str(s.getsockname()[1])


class TestBadInput:
    @pytest.mark.parametrize("command, out", [
        ("view", "--html"), pytest.param("plot", "--output", marks=NEEDS_MATPLOTLIB)])
    @pytest.mark.parametrize("change, named", FOREIGN)
    def test_a_result_naming_what_the_instance_lacks_is_refused_naming_it(self, command, out,
                                                                         change, named, tmp_path):
        instance, result = served_and_waiting()
        change(result)
        files = saved(tmp_path, instance, result)
        run = run_cli(command, *files, out, tmp_path / "out", timeout=WAIT)
        assert run.returncode == 2 and run.stderr.count("\n") == 1, run.stderr
        assert f"not a result of {files[0]}: {named}" in run.stderr
        assert not (tmp_path / "out").exists()
        with pytest.raises(ValueError, match=f"^not a result of this instance: {named}$"):
            if command == "view":
                page_html(instance, result, "page")
            else:
                plot_solution(instance, result, tmp_path / "out")

    @pytest.mark.parametrize("command", ["view", "solve"])
    def test_a_port_in_use_gives_status_two_and_one_line(self, command, busy_port):
        run = run_cli(command, EXAMPLE, "--port", busy_port, "--no-browser",
                      *(["--view"] if command == "solve" else []), timeout=WAIT)
        assert run.returncode == 2 and run.stderr.count("\n") == 1
        assert f"port {busy_port}" in run.stderr


@pytest.fixture(scope="module")
def browser():
    webdriver = pytest.importorskip("selenium.webdriver", reason="selenium is not installed")
    if not (CHROMIUM and DRIVER):
        pytest.skip("chromium and chromedriver are not installed")
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1200,800"):
        options.add_argument(argument)
    options.binary_location = CHROMIUM
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    yield driver
    driver.quit()


def show(browser, folder, *args):
    """The view command's page of `args`, written to `folder`, open in the browser."""
    page = folder / "page.html"
    run = run_cli("view", *args, "--html", page, timeout=WAIT)
    assert run.returncode == 0, run.stderr
    browser.get(page.as_uri())


def wait_for(browser, condition):
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.support.ui import WebDriverWait
    return WebDriverWait(browser, WAIT, poll_frequency=0.1,
                         ignored_exceptions=[StaleElementReferenceException]).until(condition)


def routes_drawn(browser):
    return {int(path.get_attribute("data-agent")):
            [int(node) for node in path.get_attribute("data-stops").split()]
            for path in browser.find_elements("css selector", "#map path[data-agent]")}


def texts(browser, selector, key):
    """In one call, so that a drawing in between cannot replace the elements being read."""
    return browser.execute_script(
        "return [...document.querySelectorAll(arguments[0])]"
        ".map(e => [e.getAttribute(arguments[1]), e.textContent.trim()])", selector, key)


def table_column(browser, name):
    return [text for _, text in texts(browser, f"#routes-table tbody td[data-col={name}]", "")]


def labels(browser):
    return {int(node): text for node, text in texts(browser, "#map text.label", "data-label")}


def tip_of(browser, node_id):
    """The tip's text once it is the one of this node."""
    text = browser.find_element("id", "tip").text
    return text if text.split("\n")[0] == f"node {node_id}" else None


def drawn(browser, node_id):
    return browser.find_element("css selector", f'#map [data-node="{node_id}"]')


def shown(value):
    """A number as the page writes it: three decimals at most, no trailing zeros."""
    return f"{value:.3f}".rstrip("0").rstrip(".")


def assert_page_shows(browser, result):
    routes = [route for route in result["routes"] if len(route["node_ids"]) >= 2]
    assert routes_drawn(browser) == {route["agent_id"]: route["node_ids"] for route in routes}
    assert table_column(browser, "cost") == [shown(route["cost"]) for route in result["routes"]]
    assert table_column(browser, "stops") == [str(max(0, len(route["node_ids"]) - 2))
                                              for route in result["routes"]]


def assert_north_up(browser, nodes, squeeze):
    """North above south and west left of east, a unit of x drawn `squeeze` times as wide as
    one of y."""
    def centre(node, axis):
        rect = drawn(browser, node["id"]).rect
        return rect[axis] + rect["height" if axis == "y" else "width"] / 2

    by_y, by_x = (sorted(nodes, key=lambda node: node[axis]) for axis in "yx")
    top, bottom = (centre(by_y[k], "y") for k in (-1, 0))
    left, right = (centre(by_x[k], "x") for k in (0, -1))
    assert top < bottom and left < right
    per_y = (bottom - top) / (by_y[-1]["y"] - by_y[0]["y"])
    per_x = (right - left) / (by_x[-1]["x"] - by_x[0]["x"])
    assert per_x / per_y == pytest.approx(squeeze, rel=0.03)


class TestThePageInABrowser:
    def test_the_solved_example_shows_its_routes_north_up_and_names_the_curve_s_axes(
            self, browser, solved, tmp_path):
        result, page = solved
        browser.get(page.as_uri())
        assert_page_shows(browser, result)
        assert_north_up(browser, json.loads(EXAMPLE.read_text())["nodes"], 1)
        x, y = (browser.find_element("css selector", f'#curve-axes [data-axis="{axis}"]')
                for axis in "xy")
        assert (x.text, y.text) == ("processor time (s)", "total (cost)")
        assert y.rect["height"] > y.rect["width"] and y.rect["x"] < x.rect["x"]
        # Longitude and latitude: north up, a degree east narrowed by the mean latitude.
        nodes = json.loads(SURVEY.read_text())["nodes"]
        show(browser, tmp_path, SURVEY)
        latitude = math.radians(sum(node["y"] for node in nodes) / len(nodes))
        assert_north_up(browser, nodes, math.cos(latitude))

    @pytest.mark.parametrize("options, first, last", [
        ([], ["window 600–1200", "arrival 300, waits 300", "service starts 600 · in its window"],
         ["window 0–300, 600–900", "service starts 1500 · late by 600"]),
        (["--clock", "8:00", "--time-unit", "s"],
         ["window 08:10–08:20", "arrival 08:05, waits 5 min",
          "service starts 08:10 · in its window"],
         ["window 08:00–08:05, 08:10–08:15", "service starts 08:25 · late by 10 min"]),
    ])
    def test_stops_are_labelled_in_order_and_their_times_read_against_their_windows(
            self, browser, tmp_path, options, first, last):
        from selenium.webdriver import ActionChains
        show(browser, tmp_path, *saved(tmp_path, *served_and_waiting()), *options)
        assert labels(browser) == {0: "0", 4: "4 #1", 7: "7 #2", 9: "9 #3"}
        for node, lines in ((4, ["stop 1 of 3, agent 5", *first]), (9, ["stop 3 of 3", *last])):
            ActionChains(browser).move_to_element(drawn(browser, node)).perform()
            tip = wait_for(browser, lambda b: tip_of(b, node))
            assert all(line in tip for line in lines), tip
        before, after = (["08:00"], ["0"]) if options else (["0"], ["00:00"])
        assert table_column(browser, "start") == before
        browser.find_element("id", "show-clock").click()
        wait_for(browser, lambda b: table_column(b, "start") == after)
        browser.find_element("id", "show-labels").click()
        wait_for(browser, lambda b: labels(b) == {})

    def test_sixty_routes_get_sixty_colours(self, browser):
        instance = {"nodes": [{"id": i, "x": i % 8, "y": i // 8} for i in range(61)],
                    "agents": [{"id": k, "type": "van", "start_node": 0, "end_node": 0}
                               for k in range(60)]}
        result = {"status": "success", "statistics": {"max_cost": 1, "sum_cost": 60},
                  "routes": [{"agent_id": k, "node_ids": [0, k + 1, 0], "cost": 1}
                             for k in range(60)]}
        browser.get("data:text/html;base64," + base64.b64encode(
            page_html(instance, result, "sixty").encode()).decode())
        strokes = [path.get_attribute("stroke")
                   for path in browser.find_elements("css selector", "#map path[data-agent]")]
        assert len(strokes) == len(set(strokes)) == 60

    def test_stops_left_out_are_listed_and_marked_and_loads_summed(self, browser, tmp_path):
        # Node 3 is optional, node 2 only for a type no agent has.
        instance = json.loads((DATA / "left_out.json").read_text())
        result = ploxa.solve_json_file(str(DATA / "left_out.json"))
        show(browser, tmp_path, *saved(tmp_path, instance, result))
        visited = {node for route in result["routes"] for node in route["node_ids"]}
        left = {stop["node"] for stop in result["unassigned"]} | {1, 2, 3, 4} - visited
        listed = browser.find_elements("css selector", "#unassigned li[data-node]")
        assert {int(item.get_attribute("data-node")) for item in listed} == left
        assert {node for node in left
                if "unassigned" in drawn(browser, node).get_attribute("class")} == left
        demand = {node["id"]: node.get("demand", 0) for node in instance["nodes"]}
        assert table_column(browser, "load") == [
            shown(sum(demand[node] for node in route["node_ids"] if node != 0))
            for route in result["routes"]]

    def test_a_live_solve_adds_points_to_the_curve_then_shows_the_result(self, browser,
                                                                         tmp_path):
        solve = subprocess.Popen(
            [sys.executable, "-m", "ploxa", "solve", write_json(tmp_path / "live.json", scattered(300)),
             "--time-limit", "4", "--quiet", "--view", "--no-browser",
             "--output", str(tmp_path / "result.json")],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, bufsize=0)
        def solving():
            return browser.find_element("id", "status").text.startswith("solving")

        try:
            browser.get(line_with(solve.stderr, "the page is at ").split()[-1])
            deadline, counts = time.monotonic() + WAIT, set()
            while time.monotonic() < deadline and solving():
                counts.add(int(browser.find_element("id", "curve").get_attribute("data-points")))
                time.sleep(0.2)
            assert len(counts) > 1  # the curve gained points while the solve ran
            wait_for(browser, lambda b: not solving())
            result = json.loads((tmp_path / "result.json").read_text())
            assert_page_shows(browser, result)
            assert browser.find_element("id", "curve").get_attribute("data-points") == str(
                len(result["anytime"]))
        finally:
            solve.terminate()
            solve.wait(timeout=WAIT)
            solve.stderr.close()
