import json
import pathlib
import re
import shutil
import socket
import subprocess
import sys
import time
import urllib.request

import pytest

import ploxa

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "time_windows.json"
CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_cli(*args, **kwargs):
    return subprocess.run([sys.executable, "-m", "ploxa", *args], capture_output=True,
                          text=True, timeout=120, **kwargs)


@pytest.fixture(scope="module")
def solved(tmp_path_factory):
    """The example solved, with its page written as one file."""
    folder = tmp_path_factory.mktemp("view")
    result = ploxa.solve_json_file(str(EXAMPLE), time_limit=2, improve=True)
    (folder / "result.json").write_text(json.dumps(result))
    run = run_cli("view", str(EXAMPLE), str(folder / "result.json"), "--html",
                  str(folder / "page.html"))
    assert run.returncode == 0, run.stderr
    return result, folder / "page.html"


def test_the_written_page_holds_its_data_and_loads_nothing_from_the_network(solved):
    result, page = solved
    text = page.read_text()
    assert not re.search(r"""(src|href)\s*=\s*["']?(https?:)?//""", text)
    data = json.loads(re.search(r'<script id="data" type="application/json">(.*?)</script>',
                                text, re.S).group(1))
    assert data["result"] == result and data["instance"] == json.loads(EXAMPLE.read_text())


@pytest.mark.parametrize("args, message", [
    (["absent.json"], "No such file or directory"),
    ([str(EXAMPLE), str(EXAMPLE)], 'not a result (no list of "routes")'),
])
def test_view_of_bad_files_gives_status_two_and_one_line(args, message):
    run = run_cli("view", *args, "--no-browser")
    assert run.returncode == 2 and run.stderr.count("\n") == 1 and message in run.stderr


@pytest.fixture
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


def routes_drawn(browser):
    return {int(path.get_attribute("data-agent")): [int(n) for n in
                                                    path.get_attribute("data-stops").split()]
            for path in browser.find_elements("css selector", "#map path")}


def table_rows(browser):
    return [[cell.text for cell in row.find_elements("css selector", "td")]
            for row in browser.find_elements("css selector", "#routes-table tbody tr")]


def test_the_page_draws_each_route_and_tabulates_the_result(browser, solved):
    result, page = solved
    browser.get(page.as_uri())
    assert routes_drawn(browser) == {route["agent_id"]: route["node_ids"]
                                     for route in result["routes"]}
    assert [[float(row[1]), int(row[2])] for row in table_rows(browser)] == [
        [pytest.approx(route["cost"], abs=1e-3), len(route["node_ids"]) - 2]
        for route in result["routes"]]


def test_a_live_solve_adds_points_to_the_curve_then_shows_the_result(browser, tmp_path):
    rng = __import__("random").Random(3)
    instance = {
        "nodes": [{"id": i, "x": rng.random() * 1000, "y": rng.random() * 1000}
                  for i in range(300)],
        "agents": [{"id": k, "type": "van", "start_node": 0, "end_node": 0} for k in range(4)],
        "metrics": {"van": {"kind": "euclidean"}},
        "constraints": [{"kind": "assignment",
                         "items": [{"node": i, "types": ["van"]} for i in range(300)]}],
        "options": {"objective": "min_max"}}
    path = tmp_path / "live.json"
    path.write_text(json.dumps(instance))
    port = free_port()
    solve = subprocess.Popen([sys.executable, "-m", "ploxa", "solve", str(path), "--time-limit",
                              "4", "--quiet", "--view", "--no-browser", "--port", str(port),
                              "--output", str(tmp_path / "result.json")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                urllib.request.urlopen(f"http://127.0.0.1:{port}/", timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        browser.get(f"http://127.0.0.1:{port}/")
        counts = []
        while time.monotonic() < deadline and not (tmp_path / "result.json").exists():
            curve = browser.find_element("id", "curve").get_attribute("data-points")
            counts.append(int(curve or 0))
            time.sleep(0.2)
        assert max(counts) > min(counts)  # the curve gained points while the solve ran
        time.sleep(1)
        result = json.loads((tmp_path / "result.json").read_text())
        assert routes_drawn(browser) == {route["agent_id"]: route["node_ids"]
                                         for route in result["routes"] if
                                         len(route["node_ids"]) >= 2}
        assert [float(row[1]) for row in table_rows(browser)] == [
            pytest.approx(route["cost"], abs=1e-3) for route in result["routes"]]
    finally:
        solve.terminate()
        solve.wait(timeout=30)
