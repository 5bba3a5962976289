#!/usr/bin/env python3
"""The browser board in Debian's Chromium, driven headless through chromedriver.

    board_page_test.py --engine PATH --out DIR [--measure-game]

Plays games by clicks on tools/board.py's page and checks what the page draws
against the engine's own "print"; exits 77 (skipped) when Chromium, its driver
or Selenium is missing. Screenshots go to DIR. --measure-game plays one whole
game at the page's default time per move and prints the click-to-reply times.
"""

import argparse
import glob
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SIZE = 20
CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"
# This machine's network is closed: without these Chromium keeps calling out.
CHROMIUM_FLAGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--disable-dev-shm-usage", "--hide-scrollbars"]
TIME_MS = 300
ARGS = None

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None


def children_of(pid):
    kids = []
    for path in glob.glob(f"/proc/{pid}/task/*/children"):
        try:
            with open(path) as f:
                kids += [int(p) for p in f.read().split()]
        except OSError:  # the thread ended after the listing
            pass
    return kids


def is_engine(pid):
    try:
        return Path(f"/proc/{pid}/exe").resolve(strict=True).name == "pbrain-tarvo"
    except OSError:  # it exited after the listing: no engine any more
        return False


def engine_pids(server):
    return [pid for pid in children_of(server.pid) if is_engine(pid)]


class Server:
    """tools/board.py on a free port."""

    def __init__(self, data, *extra):
        self.proc = subprocess.Popen(
            [sys.executable, str(ROOT / "tools" / "board.py"), "--engine", ARGS.engine, "--port", "0",
             "--data", str(data), "--time", str(TIME_MS), *extra],
            stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        self.url = line.split()[2]
        self.pid = self.proc.pid

    def get(self, path, host=None):
        request = urllib.request.Request(self.url.rstrip("/") + path)
        if host:
            request.add_header("Host", host)
        try:
            with urllib.request.urlopen(request, timeout=10) as response:
                return response.status, response.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()

    def act(self, session, action, **extra):
        request = urllib.request.Request(self.url.rstrip("/") + "/api/act",
                                         json.dumps({"session": session, "action": action, **extra}).encode(),
                                         {"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as response:
            return json.loads(response.read())

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait(timeout=15)
        self.proc.stdout.close()


def engine_print(commands, files=()):
    """The engine's picture after the commands, as three panels of 400 characters."""
    with tempfile.TemporaryDirectory() as scratch:
        for name, text in files:
            Path(scratch, name).write_text(text)
        out = subprocess.run([ARGS.engine], input="\n".join(["START 20"] + commands + ["print", "END"]) + "\n",
                             capture_output=True, text=True, cwd=scratch, timeout=30).stdout
    rows = [line[len("DEBUG "):] for line in out.splitlines() if line.startswith("DEBUG ")][3:23]
    assert len(rows) == SIZE, out
    return ["".join(row[1 + 21 * p:21 + 21 * p] for row in rows) for p in range(3)]


def write_records(folder):
    """Three decided games that share their first move: a small database. The
    second player won only the game that went on with 11,9."""
    games = [
        [(9, 9), (10, 10), (9, 8), (10, 8), (9, 7), (10, 9), (9, 6), (10, 11), (9, 5)],
        [(9, 9), (11, 9), (5, 5), (11, 10), (5, 8), (11, 11), (14, 5), (11, 12), (4, 4), (11, 13)],
        [(9, 9), (10, 10), (8, 9), (11, 11), (7, 9), (12, 12), (6, 9), (13, 13), (5, 9)],
    ]
    for number, game in enumerate(games):
        with open(os.path.join(folder, f"game{number}.psq"), "w") as f:
            f.write("Piskvork 20x20, 0:0, 0\n" + "".join(f"{x},{y},0\n" for x, y in game))


def make_database(data):
    records = os.path.join(data, "records")
    os.makedirs(records)
    write_records(records)
    subprocess.run([ARGS.engine], input="db create\ndb add records\nend\n", cwd=data, capture_output=True,
                   text=True, timeout=30, check=True)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in CHROMIUM_FLAGS + [f"--user-data-dir={cls.scratch.name}/profile", "--window-size=1280,800"]:
            options.add_argument(flag)
        cls.driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        cls.data = Path(cls.scratch.name) / "data"
        cls.data.mkdir()
        make_database(cls.data)
        cls.server = Server(cls.data)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.stop()
        cls.scratch.cleanup()

    def setUp(self):
        self.size(1280, 800)
        self.scheme("light")
        self.open_page()

    # Driving the page

    def size(self, width, height):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})

    def scheme(self, value):
        self.driver.execute_cdp_cmd("Emulation.setEmulatedMedia",
                                    {"features": [{"name": "prefers-color-scheme", "value": value}]})

    def open_page(self, server=None):
        self.driver.get((server or self.server).url)
        self.settle()

    def settle(self, timeout=30):
        WebDriverWait(self.driver, timeout).until(lambda d: d.execute_script(
            "return window.tarvoBoard && tarvoBoard.view !== null && !tarvoBoard.busy"))

    def cells(self):
        """Every cell's data attributes, by (x, y)."""
        rows = self.driver.execute_script(
            "return [...document.querySelectorAll('#board .cell')].map(c => Object.assign({}, c.dataset))")
        return {(int(r["x"]), int(r["y"])): r for r in rows}

    def stones(self):
        return {p: c for p, c in self.cells().items() if c.get("stone")}

    def click(self, x, y):
        self.driver.find_element(By.CSS_SELECTOR, f'#board .cell[data-x="{x}"][data-y="{y}"]').click()
        self.settle()

    def press(self, button_id):
        self.driver.find_element(By.ID, button_id).click()
        self.settle()

    def upload(self, name, text):
        path = Path(self.scratch.name) / name
        path.write_text(text)
        self.driver.find_element(By.ID, "load").send_keys(str(path))
        WebDriverWait(self.driver, 30).until(lambda d: d.execute_script("return tarvoBoard.busy") is False)
        time.sleep(0.1)
        self.settle()

    def notice(self):
        element = self.driver.find_element(By.ID, "notice")
        return element.text if element.is_displayed() else ""

    def first_listed(self):
        return next(p for p, c in self.cells().items() if c.get("listed") == "a")

    def view(self):
        return self.driver.execute_script("return tarvoBoard.view")

    def think(self, seconds):
        box = self.driver.find_element(By.ID, "think-time")
        box.clear()
        box.send_keys(str(seconds))
        self.press("think")
        self.assertTrue(self.view()["thinking"]["active"])

    def wait_thinking(self, condition, timeout):
        """Waits, polling as the page does, until condition(thinking view) holds."""
        WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(
            lambda d: condition(d.execute_script("return tarvoBoard.view.thinking")))
        return self.view()["thinking"]

    def drawn_snapshot(self):
        """The view's think, the search line drawn on the board (as [x, y] in the
        order of its numbers) and the move shown, all from one drawing."""
        thinking, cells, move = self.driver.execute_script(
            "return [tarvoBoard.view.thinking,"
            " [...document.querySelectorAll('#board .cell')].filter(c => c.querySelector('.p.on'))"
            "   .map(c => [+c.dataset.x, +c.dataset.y, +c.querySelector('.p').dataset.n]),"
            " document.getElementById('f-move').textContent]")
        return thinking, [[x, y] for x, y, _ in sorted(cells, key=lambda c: c[2])], move

    def moves_in_order(self):
        stones = self.stones()
        ordered = sorted(stones.items(), key=lambda item: int(item[1]["move"]))
        return [p for p, _ in ordered], ordered[0][1]["stone"]

    def play_engine_game(self, replies):
        """Clicks the first listed move on each turn until `replies` engine moves
        were drawn or the game is over; returns the drawn reply times."""
        self.driver.execute_script("tarvoBoard.replyTimes = []")
        self.engine_ms = []  # the server's exchange with the engine, per reply
        for _ in range(replies):
            if self.driver.execute_script("return tarvoBoard.view.turn") != "human":
                break
            before = len(self.stones())
            self.click(*self.first_listed())
            self.engine_ms.append(self.driver.execute_script("return tarvoBoard.view.replyMs"))
            if self.driver.execute_script("return tarvoBoard.view.turn") != "over":
                self.assertEqual(len(self.stones()), before + 2, "each click answered")
        return self.driver.execute_script("return tarvoBoard.replyTimes")

    def assert_layers_match_print(self, commands=None, files=()):
        """Threat classes, listed letters and stones, cell by cell, against the
        engine's picture of the same moves (or of the given commands)."""
        if commands is None:
            moves, first = self.moves_in_order()
            commands = (["0move"] if first == "o" else []) + [f"play {x},{y}" for x, y in moves]
        xs, os_, listed = engine_print(commands, files)
        cells = self.cells()
        for y in range(SIZE):
            for x in range(SIZE):
                cell, i = cells[(x, y)], x + SIZE * y
                with self.subTest(x=x, y=y):
                    self.assertEqual(cell.get("threatX"), None if xs[i] in "-X@" else str(ord(xs[i]) - 97))
                    self.assertEqual(cell.get("threatO"), None if os_[i] in "-X@" else str(ord(os_[i]) - 97))
                    self.assertEqual(cell.get("listed"), None if listed[i] in "-X@" else listed[i])
                    self.assertEqual(cell.get("stone"), {"X": "x", "@": "o"}.get(xs[i]))

    # The tests

    def test_game_by_clicks_layers_match_print_and_take_back(self):
        self.press("new-game")
        times = self.play_engine_game(5)
        stones = self.stones()
        self.assertEqual(len(stones), 10)
        self.assertEqual(sorted(int(c["move"]) for c in stones.values()), list(range(1, 11)))
        self.assertEqual(len(times), 5)
        print(f"\nclick to drawn reply at {TIME_MS} ms a move: median {statistics.median(times):.0f} ms, "
              f"worst {max(times)} ms over {len(times)} replies", file=sys.stderr)
        self.assert_layers_match_print()

        # The legend and the threat cells' titles name the classes as the engine's state line does.
        names = self.driver.execute_script("return tarvoBoard.view.state.classNames")
        self.assertEqual(len(names), 14)
        self.assertEqual(self.driver.execute_script(
            "return [...document.querySelectorAll('#legend li')].map(li => li.lastChild.textContent)"), names)
        titles = self.driver.execute_script(
            "return [...document.querySelectorAll('#board .cell')].filter(c => c.dataset.threatX)"
            ".map(c => [c.dataset.threatX, c.title])")
        self.assertTrue(titles)
        for k, title in titles:
            self.assertIn(f"{k} {names[int(k)]}", title)

        # A click on a stone changes nothing, nor one while the engine thinks.
        self.click(*next(iter(stones)))
        self.assertEqual(self.stones(), stones)
        first, second = [p for p, c in self.cells().items() if c.get("listed")][:2]
        self.driver.execute_script(
            "const at = (x, y) => document.querySelector(`#board .cell[data-x='${x}'][data-y='${y}']`);"
            "at(...arguments[0]).click(); at(...arguments[1]).click();", first, second)
        self.settle()
        self.assertEqual(len(self.stones()), 12)
        self.assertEqual(self.stones()[first]["move"], "11")
        self.assertNotEqual(self.stones().get(second, {}).get("move"), "11")
        self.press("take-back")

        self.press("take-back")
        after = self.stones()
        self.assertEqual(len(after), 8)
        self.assertEqual({p for p, c in after.items() if int(c["move"]) <= 8}, set(after))
        self.assert_layers_match_print()

        # Analysis: the click places the side to move's stone and the engine only analyses.
        self.press("mode-analysis")
        self.click(*self.first_listed())
        self.assertEqual(len(self.stones()), 9)
        self.assert_layers_match_print()
        self.assertIn(self.driver.find_element(By.ID, "f-move").text.split(" ")[0],
                      {f"{x},{y}" for x in range(SIZE) for y in range(SIZE)})

    def test_think_shows_iterations_as_they_come_refuses_changes_and_stops_with_a_move(self):
        self.press("mode-analysis")
        for x, y in [(9, 9), (10, 10), (9, 10)]:
            self.click(x, y)
        before = self.stones()
        self.think(40)

        # Iterations arrive while the think goes on, and the board draws the latest one's line.
        thinking = self.wait_thinking(lambda t: t["active"] and len(t["iterations"]) >= 2, 30)
        seen = len(thinking["iterations"])
        thinking = self.wait_thinking(lambda t: t["active"] and len(t["iterations"]) > seen, 30)
        depths = [it["depth"] for it in thinking["iterations"]]
        self.assertEqual(depths, sorted(set(depths)), "one row per depth, deeper each time")
        time.sleep(0.6)  # a poll or two: the rows drawn catch up
        rows = self.driver.execute_script(
            "return [...document.querySelectorAll('#iterations tr')].map(r => +r.dataset.depth)")
        self.assertGreaterEqual(len(rows), len(depths))
        self.assertEqual(rows, sorted(rows, reverse=True), "the newest row on top")
        # One script sees one drawing: no poll comes between.
        thinking, line, move = self.drawn_snapshot()
        if thinking["active"]:
            self.assertEqual(line, [p for p in thinking["iterations"][-1]["line"] if tuple(p) not in before])
            self.assertIn("thinking", move)

        # While it thinks, whatever would change the game is refused and changes nothing.
        enabled = [self.driver.find_element(By.ID, b).is_enabled() for b in ("new-game", "take-back", "think", "stop")]
        self.assertEqual(enabled, [False, False, False, True])
        self.driver.find_element(By.CSS_SELECTOR, '#board .cell[data-x="3"][data-y="3"]').click()
        self.settle()
        self.assertIn("press Stop first", self.notice())
        self.assertEqual(self.stones(), before)
        session = self.driver.execute_script("return tarvoBoard.session")
        refused = [("new-game", {}), ("take-back", {}), ("mode", {"analysis": False}), ("step", {"index": 0}),
                   ("load", {"name": "p.txt", "text": "-" * 400}), ("think", {"ms": 5000}), ("click", {"x": 4, "y": 4})]
        for action, extra in refused:
            with self.subTest(action=action):
                view = self.server.act(session, action, **extra)
                self.assertEqual(view["notice"], "The engine is thinking: press Stop first. Nothing was changed.")
                self.assertTrue(view["thinking"]["active"])
                self.assertEqual(view["numbers"], [[9, 9, 1], [10, 10, 2], [9, 10, 3]])
                self.assertEqual(view["mode"], "analysis")
        self.assertEqual(self.server.act(session, "time", ms=500)["timeMs"], 500, "the time per move is kept")

        # Stop: the move comes within a moment, searched at least as deep as the rows show.
        shown = self.view()["thinking"]["iterations"]
        started = time.monotonic()
        self.press("stop")
        stopped_in = time.monotonic() - started
        self.assertLess(stopped_in, 8.0, "the engine promises 50 ms; a loaded machine gets far more")
        view = self.view()
        thinking, choice = view["thinking"], view["state"]["choice"]
        self.assertFalse(thinking["active"])
        self.assertTrue(thinking["stopped"])
        self.assertIsNone(thinking["fault"])
        self.assertEqual(thinking["move"], choice["move"])
        self.assertNotIn(tuple(choice["move"]), before)
        self.assertGreaterEqual(choice["depth"], shown[-1]["depth"])
        self.assertIn("Stopped after", self.driver.find_element(By.ID, "think-at").text)
        self.assertEqual(self.stones(), before)
        self.assertEqual(view["timeMs"], 500)

        # The game goes on as before the think: a click plays, and a position is
        # analysed at the time per move without the think's depth.
        self.click(*choice["move"])
        self.assertEqual(len(self.stones()), 4)
        self.assertIsNone(self.view()["thinking"], "the think was about the position before")
        self.assertEqual(self.driver.execute_script("return document.querySelectorAll('#iterations tr').length"), 0)
        self.press("take-back")
        self.assertEqual(self.stones(), before, "analysis takes back the last stone only")
        choice = self.view()["state"]["choice"]
        self.assertEqual((choice["source"], choice["depth"]), ("search", 7))
        self.assertLess(choice["ms"], 500 + 2500)

    def test_think_ends_at_its_time_and_survives_engine_faults(self):
        self.press("mode-analysis")
        for x, y in [(9, 9), (10, 10), (9, 10)]:
            self.click(x, y)
        before = self.stones()
        self.think(2)
        started = time.monotonic()
        thinking = self.wait_thinking(lambda t: not t["active"], 20)
        self.assertLess(time.monotonic() - started, 12)
        self.assertFalse(thinking["stopped"])
        self.assertIsNone(thinking["fault"])
        self.assertLessEqual(thinking["elapsedMs"], 2000 + 3000)
        self.assertTrue(thinking["iterations"])
        self.assertIn("Done after", self.driver.find_element(By.ID, "think-at").text)
        self.assertEqual(self.view()["state"]["choice"]["move"], thinking["move"])

        # An engine that dies while it thinks is started again with the game; so
        # is one that no longer answers, once Stop has given it its time.
        for fault, sig, press_stop in [("exited", signal.SIGKILL, False), ("did not stop", signal.SIGSTOP, True)]:
            with self.subTest(fault=fault):
                self.think(30)
                self.wait_thinking(lambda t: t["iterations"], 30)
                for pid in engine_pids(self.server):
                    os.kill(pid, sig)
                if press_stop:
                    self.press("stop")
                self.wait_thinking(lambda t: not t["active"], 30)
                self.assertIn("while thinking; it was started again with the game's moves", self.notice())
                self.assertIn(fault, self.notice())
                self.assertEqual(self.stones(), before)
                self.assertTrue(self.view()["engineRunning"])
        self.click(*self.first_listed())
        self.assertEqual(len(self.stones()), 4)
        self.assert_layers_match_print()

    def test_record_loaded_and_stepped_bad_uploads_change_nothing(self):
        record = [(9, 9), (10, 10), (9, 8), (10, 8), (9, 7), (10, 9)]
        self.upload("game.psq", "Piskvork 20x20, 0:0, 0\n" + "".join(f"{x},{y},0\n" for x, y in record) + "-1\n")
        self.assertEqual(self.driver.find_element(By.ID, "step-at").text, "0 / 6")
        for _ in range(4):
            self.press("step-forward")
        self.press("step-back")
        self.assertEqual(self.moves_in_order()[0], record[:3])
        self.assert_layers_match_print()

        shown = self.cells()
        for name, text in [("bad.psq", "Piskvork 15x15\n1,1,0\n"), ("off.psq", "Piskvork 20x20\n9,9,0\n20,3,0\n"),
                           ("short.txt", "x" * 399)]:
            with self.subTest(name=name):
                self.upload(name, text)
                self.assertIn(name, self.notice())
                self.assertIn("cannot be read", self.notice())
                self.assertEqual(self.cells(), shown)

        position = ["-" * SIZE] * SIZE
        position[9] = "-" * 8 + "xxx" + "-" * 9
        position[10] = "-" * 8 + "oo" + "-" * 10
        text = "\n".join(position) + "\n"
        self.upload("position.txt", text)
        marks = {p: c["stone"] for p, c in self.stones().items()}
        self.assertEqual(marks, {(8, 9): "x", (9, 9): "x", (10, 9): "x", (8, 10): "o", (9, 10): "o"})
        self.assert_layers_match_print(["read p.txt"], [("p.txt", text)])

    def test_explorer_lists_stored_continuations_and_plays_them(self):
        self.press("new-game")
        rows = self.driver.find_elements(By.CSS_SELECTOR, "#explorer tr")
        self.assertEqual(len(rows), 1, "one stored first move")
        x, y = map(int, rows[0].get_attribute("data-move").split(","))
        rows[0].click()
        self.settle()
        stones = self.stones()
        self.assertEqual(stones[(x, y)]["move"], "1")
        # The engine answers from the database with the reply of the game it
        # won, and the two stored replies below that move remain as the stored
        # continuations of the first.
        self.assertIn("database reply", self.driver.find_element(By.ID, "f-move").text)
        self.press("take-back")
        self.press("mode-analysis")
        self.driver.find_element(By.CSS_SELECTOR, "#explorer tr").click()
        self.settle()
        rows = self.driver.find_elements(By.CSS_SELECTOR, "#explorer tr")
        self.assertEqual(len(rows), 2, "two stored second moves")
        games = sorted(r.find_elements(By.TAG_NAME, "td")[1].text for r in rows)
        self.assertEqual(games, ["0 / 0 / 0 / 2", "1 / 0 / 0 / 0"])
        cell = rows[0].get_attribute("data-move")
        rows[0].click()
        self.settle()
        self.assertEqual(self.cells()[tuple(map(int, cell.split(",")))]["move"], "2")

    def test_faults_restart_the_engine_and_other_pages_go_on(self):
        self.press("new-game")
        self.play_engine_game(1)
        before = self.stones()
        for pid in engine_pids(self.server):
            os.kill(pid, signal.SIGKILL)
        time.sleep(0.3)
        self.click(*self.first_listed())
        self.assertIn("started again with the game's moves", self.notice())
        self.assertEqual(len(self.stones()), len(before) + 2)
        self.assertTrue(set(before) <= set(self.stones()))

        # One that stops answering: the wait ends, and so does that engine.
        before = self.stones()
        for pid in engine_pids(self.server):
            os.kill(pid, signal.SIGSTOP)
        self.driver.find_element(By.CSS_SELECTOR, "#board .cell[data-listed='a']").click()
        self.settle(timeout=60)
        self.assertIn("did not answer", self.notice())
        self.assertEqual(len(self.stones()), len(before) + 2)

        # A second page; closing it ends its engine while this one plays on.
        engines = len(engine_pids(self.server))
        self.driver.switch_to.new_window("tab")
        self.open_page()
        self.assertEqual(len(engine_pids(self.server)), engines + 1)
        self.driver.close()
        self.driver.switch_to.window(self.driver.window_handles[0])
        WebDriverWait(self.driver, 10).until(lambda d: len(engine_pids(self.server)) == engines)
        self.play_engine_game(1)

        # The server listens on the loopback address only and serves its own
        # files and nothing else, to its own host names.
        self.assertTrue(self.server.url.startswith("http://127.0.0.1:"), self.server.url)
        self.assertEqual(self.server.get("/board.js")[0], 200)
        for path in ["/../CMakeLists.txt", "/tools/board.py", "/page/board.js", "/%2e%2e/README.md"]:
            self.assertEqual(self.server.get(path)[0], 404, path)
        self.assertEqual(self.server.get("/", host="attacker.example:80")[0], 403)

    def test_idle_page_loses_its_engine_and_gets_it_back_with_the_game(self):
        server = Server(self.data, "--idle", "1")
        try:
            self.open_page(server)
            self.press("new-game")
            self.play_engine_game(1)
            WebDriverWait(self.driver, 15).until(lambda d: not engine_pids(server))
            self.play_engine_game(1)
            self.assertEqual(len(self.stones()), 4)
            self.assert_layers_match_print()
        finally:
            self.driver.get("about:blank")
            server.stop()

    def test_layout_whole_board_visible_no_jump_and_screenshots(self):
        # A position with every layer in use: threats, listed moves, the
        # engine's choice and a stored line of the database.
        self.press("new-game")
        self.press("mode-analysis")
        for _ in range(5):
            self.driver.find_element(By.CSS_SELECTOR, "#explorer tr").click()
            self.settle()
        self.think(2)
        self.wait_thinking(lambda t: not t["active"], 20)
        for width, height in [(1280, 800), (390, 844)]:
            self.size(width, height)
            time.sleep(0.2)
            with self.subTest(size=f"{width}x{height}"):
                box = self.driver.execute_script(
                    "const r = document.getElementById('board-frame').getBoundingClientRect();"
                    "return [r.left, r.top, r.right, r.bottom, innerWidth, innerHeight]")
                self.assertGreaterEqual(min(box[:2]), 0)
                self.assertLessEqual(box[2], box[4])
                self.assertLessEqual(box[3], box[5])
                layout = self.layout()
                for toggle in self.driver.find_elements(By.CSS_SELECTOR, "[data-layer]"):
                    toggle.click()
                self.assertEqual(self.layout(), layout, "switching layers moves nothing")
                for toggle in self.driver.find_elements(By.CSS_SELECTOR, "[data-layer]"):
                    toggle.click()
                for scheme in ("light", "dark"):
                    self.scheme(scheme)
                    self.driver.execute_script("document.getElementById('panel').scrollTop = 0; scrollTo(0, 0)")
                    time.sleep(0.2)
                    self.driver.save_screenshot(os.path.join(ARGS.out, f"board-{width}x{height}-{scheme}.png"))
                    self.driver.execute_script("document.getElementById('think-box').scrollIntoView()")
                    time.sleep(0.2)
                    self.driver.save_screenshot(os.path.join(ARGS.out, f"think-{width}x{height}-{scheme}.png"))

    def layout(self):
        return self.driver.execute_script(
            "return ['board', 'panel', 'explorer-table', 'f-line', 'iterations-table'].map(id => {"
            "  const r = document.getElementById(id).getBoundingClientRect();"
            "  return [r.left, r.top, r.width, r.height]; })")


def measure_game():
    """One whole game at the page's default time per move, by clicks."""
    global TIME_MS
    TIME_MS = 2000
    PageTest.setUpClass()
    try:
        test = PageTest("test_game_by_clicks_layers_match_print_and_take_back")
        test.setUp()
        test.press("new-game")
        times = test.play_engine_game(200)
        engine = [ms for ms in test.engine_ms if ms is not None]
        print(f"click to drawn reply at {TIME_MS} ms a move over one game: {len(times)} replies, "
              f"median {statistics.median(times):.0f} ms, worst {max(times)} ms "
              f"(the server's TURN exchange: median {statistics.median(engine):.0f} ms, worst {max(engine)} ms); "
              f"{test.driver.find_element(By.ID, 'status').text}")
    finally:
        PageTest.tearDownClass()


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--measure-game", action="store_true")
    ARGS, rest = parser.parse_known_args()
    ARGS.engine = str(Path(ARGS.engine).resolve())
    os.makedirs(ARGS.out, exist_ok=True)
    missing = [p for p in (CHROMIUM, DRIVER) if not os.path.exists(p)]
    if webdriver is None or missing:
        print("skipped: needs " + ", ".join(missing + ([] if webdriver else ["python3-selenium"])) +
              " (tools/install_packages.sh installs them; see .ci/run)")
        sys.exit(77)
    if ARGS.measure_game:
        return measure_game()
    result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
