"""Talking to a brain as a manager does, for every script in tools/.

    engine = Engine("./build/pbrain-tarvo", cwd=folder)
    engine.send("START 20", "BEGIN")
    lines, move = engine.read_move(timeout=10)
    engine.close()

    done = run_batch("./build/pbrain-tarvo", ["db check", "end"], cwd=folder)

An Engine is one brain process on pipes. A wait for a line can end at a
deadline: the pipe is waited on where the system allows it, as a manager
does (a reply's time is then the brain's own, even on a loaded machine), and
read by a thread of its own on Windows, where it does not. Lines go
out with CR LF, as managers and GUIs end them. run_batch runs a brain on a
batch of operator commands to its end, as an operator types them. five_through is the one
five-in-a-row check of the tools, whatever a script keeps its stones in.
"""

import os
import queue
import re
import selectors
import shlex
import subprocess
import threading
import time

SIZE = 20
DIRECTIONS = ((1, 0), (0, 1), (1, 1), (1, -1))
MOVE_LINE = re.compile(r"^(\d+),(\d+)$")


def command_words(command):
    """A path, a list of words, or a string split as a shell splits it ("wine brain.exe")."""
    if isinstance(command, str):
        return shlex.split(command)
    if isinstance(command, (list, tuple)):
        return [str(word) for word in command]
    return [str(command)]


def run_batch(command, lines, cwd=None, timeout=None, preexec_fn=None):
    """Runs the brain on the lines, one per line, until it ends (or the timeout
    in s passes: subprocess.TimeoutExpired); the finished process, its output
    as text in stdout and stderr."""
    return subprocess.run(command_words(command), input="".join(line + "\n" for line in lines), cwd=cwd,
                          capture_output=True, text=True, timeout=timeout, preexec_fn=preexec_fn)


class EngineEnded(RuntimeError):
    """The brain closed its output: it exited or was killed."""


class EngineSilent(RuntimeError):
    """No line came before the deadline."""


class Engine:
    """One brain process. command is a path, a list of words, or a string split
    as a shell splits it ("wine brain.exe"); args are added after it.

    log, when given, is called as log(">", line) for every line sent and
    log("<", line) for every line read."""

    def __init__(self, command, cwd=None, args=(), stderr=None, log=None):
        self.log = log
        self.process = subprocess.Popen(command_words(command) + list(args), cwd=cwd, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=stderr, bufsize=0)
        self.ended = False
        self.buffer = b""
        self.selector = None
        self.lines = None
        if os.name == "nt":
            self.lines = queue.Queue()
            threading.Thread(target=self._read_all, daemon=True).start()
        else:
            self.selector = selectors.DefaultSelector()
            self.selector.register(self.process.stdout, selectors.EVENT_READ)

    def _read_all(self):
        """The reading thread: every line into the queue, then None."""
        stream = self.process.stdout
        try:
            for raw in iter(stream.readline, b""):
                self.lines.put(decoded(raw))
        except (OSError, ValueError):
            pass
        self.lines.put(None)

    def _next_queued(self, deadline):
        try:
            if deadline is None:
                return self.lines.get()
            return self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            raise EngineSilent("no line before the deadline")

    def _next_buffered(self, deadline):
        """The next line off the pipe (a last one without its line feed too),
        None at its end."""
        while b"\n" not in self.buffer:
            remaining = None if deadline is None else deadline - time.monotonic()
            if remaining is not None and remaining <= 0:
                raise EngineSilent("no line before the deadline")
            if not self.selector.select(remaining):
                continue
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                line, self.buffer = self.buffer, b""
                return decoded(line) if line else None
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return decoded(line)

    def alive(self):
        return self.process.poll() is None

    @property
    def returncode(self):
        return self.process.returncode

    def send(self, *lines):
        """Writes the lines, each ended with CR LF; EngineEnded when the brain no
        longer reads its input."""
        try:
            for line in lines:
                if self.log:
                    self.log(">", line)
                self.process.stdin.write((line + "\r\n").encode())
            self.process.stdin.flush()
        except (BrokenPipeError, OSError, ValueError):
            raise EngineEnded("the brain closed its input")

    def read_line(self, timeout=None, deadline=None):
        """The next line. timeout (s from now) or deadline (time.monotonic()):
        EngineSilent when it passes first; without either it waits for ever. EngineEnded
        at the end of the output (for this and every later read)."""
        if self.ended:
            raise EngineEnded("the brain ended its output")
        if deadline is None and timeout is not None:
            deadline = time.monotonic() + timeout
        line = self._next_buffered(deadline) if self.selector else self._next_queued(deadline)
        if line is None:
            self.ended = True
            raise EngineEnded("the brain ended its output")
        if self.log:
            self.log("<", line)
        return line

    def read_until(self, done, timeout=None, deadline=None):
        """The lines up to and including the first one for which done(line) holds;
        the timeout counts for them all."""
        if deadline is None and timeout is not None:
            deadline = time.monotonic() + timeout
        lines = []
        while True:
            lines.append(self.read_line(deadline=deadline))
            if done(lines[-1]):
                return lines

    def read_move(self, timeout=None, deadline=None):
        """(the lines before the move, (x, y)) at the first move line x,y."""
        lines = self.read_until(lambda line: MOVE_LINE.match(line.strip()) is not None, timeout, deadline)
        x, y = MOVE_LINE.match(lines[-1].strip()).groups()
        return lines[:-1], (int(x), int(y))

    def exit_status(self, timeout):
        """The exit status once the brain ends within timeout s, else None."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.alive():
            self.process.kill()
        self.process.wait()

    def close(self, timeout=2.0):
        """Sends END, gives the brain timeout s to exit, then kills it; the exit
        status, or None when it had to be killed."""
        status = None
        if self.alive():
            try:
                self.send("END")
            except EngineEnded:
                pass
        status = self.exit_status(timeout)
        if status is None:
            self.kill()
        if self.selector:
            self.selector.close()
        for stream in (self.process.stdin, self.process.stdout):
            try:
                stream.close()
            except OSError:
                pass
        return status


def decoded(raw):
    return raw.decode("utf-8", "replace").rstrip("\r\n")


def five_through(stone_at, x, y):
    """The cells of a row of five or more of the stone at (x, y), sorted, or None.

    stone_at(x, y) gives the stone on a cell of the board, None where there is
    none; it is asked only about cells on the board."""
    stone = stone_at(x, y)
    if stone is None:
        return None
    for dx, dy in DIRECTIONS:
        row = line_through(stone_at, x, y, stone, dx, dy)
        if len(row) >= 5:
            return sorted(row)
    return None


def longest_line(stone_at, x, y, stone):
    """How many stones in a row a stone at (x, y) would have at most, itself counted."""
    return max(len(line_through(stone_at, x, y, stone, dx, dy)) for dx, dy in DIRECTIONS)


def line_through(stone_at, x, y, stone, dx, dy):
    """(x, y) and the cells of stone that follow it both ways along (dx, dy)."""
    row = [(x, y)]
    for sign in (1, -1):
        cx, cy = x + sign * dx, y + sign * dy
        while 0 <= cx < SIZE and 0 <= cy < SIZE and stone_at(cx, cy) == stone:
            row.append((cx, cy))
            cx, cy = cx + sign * dx, cy + sign * dy
    return row
