#!/usr/bin/env python3
"""A board in the browser: play pbrain-tarvo and see what it sees.

    python3 tools/board.py [--engine PATH] [--port N] [--data DIR]

Serves the page in tools/page/ on 127.0.0.1 and drives one engine process per
page session over the brain protocol, as a manager does (START, BEGIN, TURN,
INFO), with the operator words "play", "best", "read", "learn" and
"state" for analysis. Everything the page shows of the engine comes from the
one JSON line that "state" writes, but for a think in analysis mode: a level
deeper than any time reaches, the engine's per-iteration lines read by a
thread while the page polls, and "yxstop" to end it.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from engine_protocol import MOVE_LINE, SIZE, Engine, EngineEnded, EngineSilent, five_through

TOOLS = Path(__file__).resolve().parent
DEFAULT_ENGINE = TOOLS.parent / "build" / ("pbrain-tarvo.exe" if os.name == "nt" else "pbrain-tarvo")
PAGE_FILES = {
    "/": ("index.html", "text/html; charset=utf-8"),
    "/index.html": ("index.html", "text/html; charset=utf-8"),
    "/board.css": ("board.css", "text/css; charset=utf-8"),
    "/board.js": ("board.js", "text/javascript; charset=utf-8"),
    "/favicon.svg": ("favicon.svg", "image/svg+xml"),
}
MAX_BODY = 1 << 20          # an upload larger than this is no game record
MAX_RECORD_MOVES = SIZE * SIZE
TIME_CHOICES = (100, 20000)  # the time per move a page may set, in ms
THINK_CHOICES = (1000, 60000)  # the time a think in analysis mode may take, in ms
ANSWER_GRACE_S = 10.0        # beyond the time per move, before an engine counts as hung
STOP_GRACE_S = 5.0           # after "yxstop", before a thinking engine counts as hung
THINK_DEPTH = 99             # a level no think's time reaches: the time ends it
THINK_LEVEL = (f"INFO max_depth {THINK_DEPTH}", "INFO show_detail 1")
NO_LEVEL = ("INFO max_depth 0", "INFO show_detail 0")
# While the engine thinks only these reach the session; the rest would change
# the game under the search or talk to an engine that is not listening.
WHILE_THINKING = {"view", "stop", "time"}


class EngineFault(Exception):
    """The engine exited or stopped answering; the text says which."""


class EngineClient:
    """One engine process, asked for its "state" line after every batch of commands."""

    def __init__(self, command, cwd):
        self.engine = Engine([str(command)], cwd=cwd, stderr=subprocess.DEVNULL)

    def alive(self):
        return self.engine.alive()

    def exchange(self, commands, timeout):
        """Sends the commands and "state"; returns (state, the lines before it)."""
        try:
            self.engine.send(*commands, "state")
            lines = self.engine.read_until(lambda line: line.startswith("{"), timeout)
        except EngineSilent:
            raise EngineFault(f"did not answer within {timeout:.0f} s")
        except EngineEnded:
            raise EngineFault(self.ended())
        try:
            return json.loads(lines[-1]), lines[:-1]
        except ValueError:
            raise EngineFault("wrote a state line that is not JSON")

    def ended(self):
        code = self.engine.exit_status(2)
        return "stopped reading its input" if code is None else f"exited (status {code})"

    def close(self):
        self.engine.close(1.5)


SEARCH_SUMMARY = re.compile(r"^MESSAGE -?\d+\|-?\d+\|\d+$")  # value|static|nodes


def point_of(text):
    m = MOVE_LINE.match(text)
    return [int(m.group(1)), int(m.group(2))] if m else None


class Thinking:
    """One think of the engine on the analysed position. A thread sends "best"
    and reads the engine's lines until its move, keeping each finished
    iteration's block; the session reads what it has so far at any time and
    settles the think, under its lock, once done is set."""

    FIELDS = {"DEPTH": ("depth", int), "SELDEPTH": ("selDepth", int), "NODES": ("nodes", int),
              "TOTALTIME": ("ms", int), "EVAL": ("eval", str), "WINRATE": ("winrate", float),
              "BESTLINE": ("line", lambda text: [p for p in map(point_of, text.split()) if p])}

    def __init__(self, client, think_ms):
        self.client = client
        self.id = uuid.uuid4().hex[:12]
        self.think_ms = think_ms
        self.started = time.monotonic()
        self.ended_at = None
        self.deadline = self.started + think_ms / 1000 + ANSWER_GRACE_S
        self.iterations = []          # the finished iterations, in order
        self.block = None             # the iteration block being read
        self.searched = False         # the search's summary line has come
        self.searching = None         # the root move the current iteration is at
        self.log = []                 # the lines read, without the running ones
        self.move = None
        self.fault = None
        self.stop_sent = False
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def start(self):
        self.thread.start()

    def run(self):
        try:
            self.client.engine.send("best")
            while self.move is None:
                try:
                    # Short waits: a stop shortens the deadline meanwhile.
                    self.take(self.client.engine.read_line(timeout=0.25))
                except EngineSilent:
                    if time.monotonic() > self.deadline:
                        self.fault = (f"did not stop within {STOP_GRACE_S:.0f} s of the stop" if self.stop_sent else
                                      f"did not answer within {self.think_ms / 1000 + ANSWER_GRACE_S:.0f} s")
                        return
        except EngineEnded:
            self.fault = self.client.ended()
        except (OSError, ValueError, RuntimeError):
            # The session closed the engine under the thread.
            self.fault = "was closed"
        finally:
            self.ended_at = time.monotonic()
            self.done.set()

    def take(self, line):
        if line.startswith("MESSAGE REALTIME "):
            words = line.split()
            if len(words) > 3 and words[2] == "POS":
                self.searching = point_of(words[3])
            return
        self.log.append(line)
        if SEARCH_SUMMARY.match(line):
            # The search is over: the block that follows sums up the whole
            # search for the reply, which the state line shows.
            self.searched = True
        elif line == "INFO PV DONE":
            # A reply without a search may carry a remembered value, depth 0.
            if self.block and self.block.get("depth", 0) > 0 and not self.searched:
                self.iterations.append(self.block)
            self.block = None
        elif line.startswith("INFO PV "):
            self.block = {}
        elif self.block is not None and line.startswith("INFO "):
            key, _, value = line[5:].partition(" ")
            if key in self.FIELDS:
                name, convert = self.FIELDS[key]
                try:
                    self.block[name] = convert(value.strip())
                except ValueError:
                    pass
        elif MOVE_LINE.match(line):
            self.move = point_of(line)

    def stop(self):
        if self.stop_sent or self.done.is_set():
            return
        self.stop_sent = True
        self.deadline = min(self.deadline, time.monotonic() + STOP_GRACE_S)
        try:
            self.client.engine.send("yxstop")
        except EngineEnded:
            pass  # the reading thread finds it ended

    def abandon(self):
        """Ends the engine under a think that nobody will settle."""
        if not self.done.is_set():
            self.client.engine.kill()
            self.done.wait(2.0)

    def view(self, active):
        ended = self.ended_at or time.monotonic()
        last = self.iterations[-1] if self.iterations else None
        return {
            "id": self.id, "active": active, "stopping": self.stop_sent and active, "thinkMs": self.think_ms,
            "elapsedMs": round((ended - self.started) * 1000), "iterations": list(self.iterations),
            "searching": {"depth": last["depth"] + 1 if last and "depth" in last else None,
                          "move": self.searching} if active else None,
            "move": self.move, "stopped": self.stop_sent, "fault": self.fault,
        }


class BadUpload(Exception):
    pass


def parse_record(text):
    """A .psq record: a first line naming 20x20, then x,y,t triples up to the first
    line that is not one, as the engine's own reader takes them."""
    lines = text.splitlines()
    if not lines or "20x20" not in lines[0]:
        raise BadUpload("its first line does not name a 20x20 board")
    moves = []
    taken = set()
    for line in lines[1:]:
        parts = line.strip().split(",")
        if len(parts) != 3 or not all(re.fullmatch(r"[+-]?\d+", p.strip()) for p in parts):
            break
        x, y = int(parts[0]), int(parts[1])
        if not (0 <= x < SIZE and 0 <= y < SIZE):
            raise BadUpload(f"move {len(moves) + 1} ({x},{y}) is off the board")
        if (x, y) in taken:
            raise BadUpload(f"move {len(moves) + 1} ({x},{y}) is on a stone")
        taken.add((x, y))
        moves.append((x, y))
    if not moves:
        raise BadUpload("it holds no moves")
    if len(moves) > MAX_RECORD_MOVES:
        raise BadUpload("it holds more moves than the board has cells")
    return moves


def parse_position(text):
    """400 marks x, o, - row by row; white space between them is skipped."""
    marks = "".join(text.split())
    if len(marks) != SIZE * SIZE or set(marks) - set("xo-"):
        raise BadUpload("a position file holds exactly 400 marks x, o and -")
    return marks


def five_in_marks(stones, x, y):
    """The cells of a row of five or more through (x, y) of 400 marks, or None."""
    return five_through(lambda cx, cy: None if stones[cx + SIZE * cy] == "-" else stones[cx + SIZE * cy], x, y)


class Session:
    """One page's game and its engine; every method runs under the session's lock."""

    def __init__(self, config):
        self.id = uuid.uuid4().hex
        self.config = config
        self.lock = threading.Lock()
        self.last_used = time.monotonic()
        self.engine = None
        self.mode = "play"
        self.human = "o"          # the mark the person plays in play mode
        self.first = "x"          # the mark of the first stone after START
        self.time_ms = config.time_ms
        self.think_ms = 10000
        self.thinking = None      # the think under way, if any
        self.thought = None       # the last one settled, shown until the position changes
        self.views = 0            # numbers the views: a page draws none older than one it drew
        self.base = None          # a loaded position: {"name", "marks", "path"}
        self.moves = []           # the game after START (or after the base), in order
        self.record = None        # a loaded record: {"name", "moves", "index"}
        self.state = None
        self.messages = []
        self.notice = None
        self.reply_ms = None
        self.scratch = None

    # The engine

    def timeout(self):
        return self.time_ms / 1000 + ANSWER_GRACE_S

    def start_engine(self):
        self.stop_engine()
        self.engine = EngineClient(self.config.engine, self.config.data)

    def stop_engine(self):
        if self.thinking:
            self.thinking.abandon()
            self.thinking = None
        if self.engine:
            self.engine.close()
            self.engine = None

    def setup_commands(self):
        commands = ["START 20", f"INFO timeout_turn {self.time_ms}", "INFO time_left 2147483647",
                    "learn off" if self.mode == "analysis" else "learn on"]
        if self.base:
            commands.append("read " + self.base["path"])
        elif self.first == "o" and self.moves:
            commands.append("0move")
        commands += [f"play {x},{y}" for x, y in self.moves]
        return commands

    def rebuild(self, then=()):
        """A fresh engine set to the game, then the given commands."""
        self.start_engine()
        return self.run(self.setup_commands() + list(then))

    def run(self, commands):
        if not self.engine:
            # Ended after an idle time: it comes back with the game.
            self.engine = EngineClient(self.config.engine, self.config.data)
            commands = self.setup_commands() + list(commands)
        elif not self.engine.alive():
            self.notice = (f"The engine had stopped ({self.engine.ended()}); "
                           "it was started again with the game's moves.")
            self.engine = EngineClient(self.config.engine, self.config.data)
            commands = self.setup_commands() + list(commands)
        self.state, lines = self.engine.exchange(commands, self.timeout())
        self.messages = lines
        return lines

    def guarded(self, work):
        """Runs work(); an engine fault restarts the engine with the game's moves
        and tries once more, then gives up on the action."""
        for attempt in (1, 2):
            try:
                work()
                return
            except EngineFault as fault:
                self.notice = f"The engine {fault}; it was started again with the game's moves."
                try:
                    self.rebuild()
                except EngineFault as again:
                    self.stop_engine()
                    self.notice = f"The engine {fault}, and again on restart ({again}); it is stopped."
                    return
        self.notice += " It failed twice on this action, which was not made."

    # Thinking in analysis mode

    def act(self, name, action, request):
        """An action of the page, after the think's news; while the engine
        thinks, one that would change the game changes nothing."""
        self.settle_thinking()
        if self.thinking and name not in WHILE_THINKING:
            self.notice = "The engine is thinking: press Stop first. Nothing was changed."
            return
        position = self.position_key()
        action(self, request)
        if self.position_key() != position:
            self.thought = None  # it was about another position

    def position_key(self):
        return (self.mode, tuple(self.moves), self.base and self.base["path"], self.base and self.base["marks"])

    def think(self, ms):
        self.think_ms = max(THINK_CHOICES[0], min(THINK_CHOICES[1], ms))
        if self.mode != "analysis":
            self.notice = "The engine thinks on a position in analysis mode only."
            return
        if self.over():
            self.notice = "The game is over: there is nothing to think about."
            return
        self.guarded(lambda: self.run(list(THINK_LEVEL) + [f"INFO timeout_turn {self.think_ms}"]))
        if not (self.engine and self.engine.alive()):
            return
        self.thought = None
        self.thinking = Thinking(self.engine, self.think_ms)
        self.thinking.start()

    def stop_thinking(self):
        if self.thinking:
            self.thinking.stop()
            self.thinking.done.wait(STOP_GRACE_S + 1.0)
            self.settle_thinking()

    def settle_thinking(self):
        """A finished think: the engine back to its analysis settings and its
        state read, or, after a fault, started again with the game."""
        thinking = self.thinking
        if not thinking or not thinking.done.is_set():
            return
        thinking.thread.join()
        self.thinking = None
        self.thought = thinking
        if thinking.fault:
            self.notice = f"The engine {thinking.fault} while thinking; it was started again with the game's moves."
            try:
                self.rebuild()
            except EngineFault as again:
                self.stop_engine()
                self.notice = (f"The engine {thinking.fault} while thinking, and again on restart ({again}); "
                               "it is stopped.")
            return
        self.guarded(lambda: self.run(list(NO_LEVEL) + [f"INFO timeout_turn {self.time_ms}"]))
        self.messages = thinking.log

    def thinking_view(self):
        if self.thinking:
            return self.thinking.view(True)
        return self.thought and self.thought.view(False)

    # The game

    def stones(self):
        return self.state["stones"] if self.state else "-" * (SIZE * SIZE)

    def over(self):
        stones = self.stones()
        last = self.state and self.state.get("lastMove")
        if last:
            five = five_in_marks(stones, *last)
            if five:
                return {"winner": stones[last[0] + SIZE * last[1]], "five": five}
        if "-" not in stones:
            return {"winner": None, "five": []}
        return None

    def side(self):
        """The mark to move. On an empty board in play mode it is the person's
        when they open: the engine gives the opener's stone the mark o."""
        if not self.state:
            return self.first
        if self.state["moveCount"] == 0 and not self.base:
            return self.first
        return self.state["side"]

    def new_game(self, human_first):
        self.base = None
        self.record = None
        self.moves = []
        self.reply_ms = None
        if self.mode == "play":
            self.human = "o"
            self.first = "o" if human_first else "x"
        else:
            self.first = "x"

        def work():
            lines = self.run(self.setup_commands() + ([] if human_first or self.mode != "play" else ["BEGIN"]))
            if self.mode == "play" and not human_first:
                self.moves = [self.reply_of(lines)]
            elif self.mode == "analysis":
                self.run(["best"])
        self.guarded(work)

    def reply_of(self, lines):
        for line in lines:
            m = MOVE_LINE.match(line)
            if m:
                return int(m.group(1)), int(m.group(2))
        errors = [line for line in lines if line.startswith("ERROR")]
        raise EngineFault("gave no move" + (f" ({errors[0]})" if errors else ""))

    def click(self, x, y):
        if not (0 <= x < SIZE and 0 <= y < SIZE) or self.stones()[x + SIZE * y] != "-" or self.over():
            return
        if self.mode == "play":
            if self.side() != self.human:
                return

            def work():
                started = time.monotonic()
                ends = self.would_end(x, y)
                lines = self.run([f"play {x},{y}"] if ends else [f"TURN {x},{y}"])
                if self.state["stones"][x + SIZE * y] == "-":
                    return
                self.moves.append((x, y))
                if ends:
                    return
                reply = self.state["lastMove"]
                if reply and tuple(reply) != (x, y):
                    self.moves.append(tuple(reply))
                    self.reply_ms = round((time.monotonic() - started) * 1000)
                else:
                    errors = [line for line in lines if line.startswith("ERROR")]
                    self.notice = "The engine gave no move" + (f": {errors[0]}" if errors else ".")
            self.guarded(work)
        else:
            def work():
                self.run([f"play {x},{y}"])
                self.moves.append((x, y))
                if not self.over():
                    self.run(["best"])
            self.guarded(work)

    def would_end(self, x, y):
        """Whether the person's stone makes five or fills the board: a manager
        then ends the game instead of asking for a reply."""
        stones = list(self.stones())
        stones[x + SIZE * y] = self.side()
        return five_in_marks("".join(stones), x, y) is not None or "-" not in stones

    def take_back(self):
        if not self.moves:
            return
        count = 1  # in analysis, the last stone
        if self.mode == "play":
            marks = self.marks_of_moves()
            if self.human not in marks:
                return
            count = len(marks) - max(i for i, m in enumerate(marks) if m == self.human)
        remaining = self.moves[:-count]

        # The game is played again from its start rather than taken back stone
        # by stone: the engine's own take-back can leave its threat lists in
        # another order than the same moves played afresh.
        def work():
            self.moves = remaining
            self.run(self.setup_commands() + (["best"] if self.mode == "analysis" else []))
        self.guarded(work)
        self.reply_ms = None

    def marks_of_moves(self):
        other = {"x": "o", "o": "x"}
        if self.base:
            mark = "x"
        else:
            mark = self.first
        marks = []
        for _ in self.moves:
            marks.append(mark)
            mark = other[mark]
        return marks

    def set_mode(self, analysis):
        mode = "analysis" if analysis else "play"
        if mode == self.mode:
            return
        self.mode = mode

        def work():
            if analysis:
                if not self.moves and not self.base:
                    self.first = "x"
                self.run(["learn off"] + ([] if self.over() else ["best"]))
            else:
                if not self.moves and not self.base:
                    self.first = "o"
                self.human = self.side()
                self.run(["learn on"])
        self.guarded(work)

    def set_time(self, ms):
        self.time_ms = max(TIME_CHOICES[0], min(TIME_CHOICES[1], ms))
        if self.thinking:
            return  # the engine gets it when the think is settled
        self.guarded(lambda: self.run([f"INFO timeout_turn {self.time_ms}"]))

    def load(self, name, text):
        try:
            if name.lower().endswith(".psq"):
                record, marks = parse_record(text), None
            else:
                record, marks = None, parse_position(text)
        except BadUpload as bad:
            self.notice = f"{name} cannot be read: {bad}. Nothing was changed."
            return
        self.mode = "analysis"
        self.moves = []
        self.first = "x"
        self.reply_ms = None
        if record:
            self.base = None
            self.record = {"name": name, "moves": record, "index": 0}
        else:
            path = self.scratch_file(marks)
            if path is None:
                return
            self.record = None
            self.base = {"name": name, "marks": marks, "path": path}
        self.guarded(lambda: self.run(self.setup_commands() + ["best"]))

    def scratch_file(self, marks):
        if not self.scratch:
            self.scratch = tempfile.mkdtemp(prefix="tarvo-board-")
        path = os.path.join(self.scratch, "position.txt")
        # The engine reads the name as one word: a path with a blank is given
        # relative to the engine's folder, where that helps.
        name = path
        if len(name.split()) != 1:
            try:
                name = os.path.relpath(path, self.config.data or os.getcwd())
            except ValueError:
                pass
        if len(name.split()) != 1:
            self.notice = "The position cannot be loaded: the temporary folder's path holds a blank."
            return None
        with open(path, "w") as file:
            for row in range(SIZE):
                file.write(marks[row * SIZE:(row + 1) * SIZE] + "\n")
        return name

    def step(self, index):
        if not self.record:
            return
        index = max(0, min(len(self.record["moves"]), index))
        self.record["index"] = index
        self.moves = list(self.record["moves"][:index])
        self.guarded(lambda: self.run(self.setup_commands() + ([] if index and self.over_after_moves() else ["best"])))

    def over_after_moves(self):
        stones = ["-"] * (SIZE * SIZE)
        for (x, y), mark in zip(self.moves, self.marks_of_moves()):
            stones[x + SIZE * y] = mark
        x, y = self.moves[-1]
        return five_in_marks("".join(stones), x, y) is not None

    def close(self):
        self.stop_engine()
        if self.scratch:
            shutil.rmtree(self.scratch, ignore_errors=True)

    # What the page draws

    def numbers(self):
        recorded = self.state.get("moves") if self.state else None
        if recorded is not None:
            return [[x, y, i + 1] for i, (x, y) in enumerate(recorded)]
        start = self.base["marks"].count("x") + self.base["marks"].count("o") if self.base else 0
        return [[x, y, start + i + 1] for i, (x, y) in enumerate(self.moves)]

    def view(self):
        over = self.over() if self.state else None
        if over:
            turn = "over"
        elif self.mode == "analysis":
            turn = "analysis"
        else:
            turn = "human" if self.side() == self.human else "engine"
        view = {
            "session": self.id, "mode": self.mode, "human": self.human, "timeMs": self.time_ms,
            "firstMark": "x" if self.base else self.first,
            "state": self.state, "numbers": self.numbers(), "over": over, "turn": turn,
            "record": None, "base": self.base and {"name": self.base["name"]},
            "messages": (self.thinking.log if self.thinking else self.messages)[-40:],
            "notice": self.notice, "replyMs": self.reply_ms,
            "engineRunning": bool(self.engine and self.engine.alive()),
            "thinkMs": self.think_ms, "thinking": self.thinking_view(), "seq": self.views,
        }
        self.views += 1
        if self.record:
            view["record"] = {"name": self.record["name"], "length": len(self.record["moves"]),
                              "index": self.record["index"]}
        self.notice = None
        return view


class Config:
    def __init__(self, engine, data, time_ms, idle_s):
        self.engine = engine
        self.data = data
        self.time_ms = time_ms
        self.idle_s = idle_s


class Sessions:
    """The live sessions; an idle one loses its engine, a long-idle one goes."""

    FORGET_AFTER_S = 24 * 3600

    def __init__(self, config):
        self.config = config
        self.lock = threading.Lock()
        self.by_id = {}

    def open(self):
        session = Session(self.config)
        with self.lock:
            self.by_id[session.id] = session
        return session

    def get(self, session_id):
        with self.lock:
            return self.by_id.get(session_id)

    def close(self, session_id):
        with self.lock:
            session = self.by_id.pop(session_id, None)
        if session:
            with session.lock:
                session.close()

    def reap(self):
        now = time.monotonic()
        with self.lock:
            sessions = list(self.by_id.values())
        for session in sessions:
            idle = now - session.last_used
            if idle > self.FORGET_AFTER_S:
                self.close(session.id)
            elif idle > self.config.idle_s and session.engine and session.lock.acquire(blocking=False):
                try:
                    # A think goes on to its end; one that ended unseen is settled.
                    session.settle_thinking()
                    if not session.thinking:
                        session.stop_engine()
                finally:
                    session.lock.release()

    def close_all(self):
        with self.lock:
            ids = list(self.by_id)
        for session_id in ids:
            self.close(session_id)


ACTIONS = {
    "new-game": lambda s, a: s.new_game(bool(a.get("humanFirst", True))),
    "click": lambda s, a: s.click(int(a["x"]), int(a["y"])),
    "take-back": lambda s, a: s.take_back(),
    "mode": lambda s, a: s.set_mode(bool(a.get("analysis"))),
    "time": lambda s, a: s.set_time(int(a["ms"])),
    "load": lambda s, a: s.load(str(a["name"])[:200], str(a["text"])),
    "step": lambda s, a: s.step(int(a["index"])),
    "think": lambda s, a: s.think(int(a["ms"])),
    "stop": lambda s, a: s.stop_thinking(),
    "view": lambda s, a: None,
}


class Handler(BaseHTTPRequestHandler):
    server_version = "tarvo-board"
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        if self.server.verbose:
            super().log_message(format, *args)

    def host_allowed(self):
        # A page of another site that rebinds a name to this address still
        # sends its own name as the host.
        host = (self.headers.get("Host") or "").rsplit(":", 1)[0].strip("[]")
        return host in self.server.allowed_hosts

    def send(self, status, body, content_type="application/json"):
        data = body if isinstance(body, bytes) else json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-cache")
        self.send_header("X-Content-Type-Options", "nosniff")
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        if not self.host_allowed():
            return self.send(403, {"error": "unknown host"})
        page = PAGE_FILES.get(self.path.split("?", 1)[0])
        if not page:
            return self.send(404, {"error": "not found"})
        name, content_type = page
        self.send(200, (TOOLS / "page" / name).read_bytes(), content_type)

    def do_POST(self):
        if not self.host_allowed():
            return self.send(403, {"error": "unknown host"})
        length = int(self.headers.get("Content-Length") or 0)
        if length > MAX_BODY:
            self.close_connection = True
            return self.send(413, {"error": "The file is larger than 1 MB; nothing was changed."})
        body = self.rfile.read(length)
        if not (self.headers.get("Content-Type") or "").startswith("application/json"):
            return self.send(415, {"error": "JSON expected"})
        try:
            request = json.loads(body or b"{}")
            if not isinstance(request, dict):
                raise ValueError
        except ValueError:
            return self.send(400, {"error": "bad request"})
        sessions = self.server.sessions
        if self.path == "/api/open":
            session = sessions.open()
            with session.lock:
                session.new_game(True)
                return self.send(200, session.view())
        if self.path == "/api/close":
            sessions.close(str(request.get("session")))
            return self.send(200, {"closed": True})
        if self.path != "/api/act":
            return self.send(404, {"error": "not found"})
        session = sessions.get(str(request.get("session")))
        if not session:
            return self.send(410, {"error": "This game's session has ended."})
        name = str(request.get("action"))
        action = ACTIONS.get(name)
        if not action:
            return self.send(400, {"error": "unknown action"})
        with session.lock:
            session.last_used = time.monotonic()
            try:
                session.act(name, action, request)
            except (KeyError, TypeError, ValueError):
                return self.send(400, {"error": "bad request"})
            session.last_used = time.monotonic()
            return self.send(200, session.view())


class BoardServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, sessions, verbose):
        super().__init__(address, Handler)
        self.sessions = sessions
        self.verbose = verbose
        host = address[0]
        self.allowed_hosts = {"127.0.0.1", "localhost", "::1", host}
        if host in ("0.0.0.0", "::"):
            self.allowed_hosts = None

    def handle_error(self, request, client_address):
        # A page that goes away mid-answer is no fault of the server.
        if not isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description="Play pbrain-tarvo and see what it sees, in the browser.")
    parser.add_argument("--engine", default=str(DEFAULT_ENGINE), help="the engine (default: %(default)s)")
    parser.add_argument("--port", type=int, default=8020, help="the port (0: any free one; default %(default)s)")
    parser.add_argument("--data", help="the folder whose tarvo/ the engine uses "
                                       "(default: the engine's own lookup from here)")
    parser.add_argument("--host", default="127.0.0.1", help="the address to listen on (default %(default)s)")
    parser.add_argument("--time", type=int, default=2000, help="time per move in ms at the start (default %(default)s)")
    parser.add_argument("--idle", type=float, default=600, help="seconds after which an idle page's engine ends")
    parser.add_argument("--verbose", action="store_true", help="log every request")
    args = parser.parse_args()

    engine = Path(args.engine).resolve()
    if not (engine.is_file() and os.access(engine, os.X_OK)):
        sys.exit(f"board.py: no engine at {engine}; build it first (see README.md) or give --engine")
    data = None
    if args.data:
        data = str(Path(args.data).resolve())
        if not os.path.isdir(data):
            sys.exit(f"board.py: --data {args.data} is no folder")
    config = Config(engine, data, max(TIME_CHOICES[0], min(TIME_CHOICES[1], args.time)), args.idle)
    sessions = Sessions(config)
    try:
        server = BoardServer((args.host, args.port), sessions, args.verbose)
    except OSError as error:
        sys.exit(f"board.py: cannot listen on {args.host} port {args.port}: {error.strerror or error}")
    if server.allowed_hosts is None:
        server.allowed_hosts = HostAny()

    def reaper():
        while True:
            time.sleep(min(30.0, max(0.2, args.idle / 4)))
            sessions.reap()
    threading.Thread(target=reaper, daemon=True).start()

    host, port = server.server_address[:2]
    shown = f"[{host}]" if ":" in host else host
    print(f"Board at http://{shown}:{port}/  (Ctrl-C stops it)", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        sessions.close_all()


class HostAny:
    """Told to listen on every address: any host name may reach the page."""

    def __contains__(self, host):
        return True


if __name__ == "__main__":
    main()
