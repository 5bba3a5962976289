#!/usr/bin/env python3
"""Runs the positions of a position set through two engine builds and checks,
position by position, that both print the same search line (MESSAGE
value|score|nodes) and the same move for "best", and that they match the
values recorded in the set.

Usage: compare_positions.py OLD_EXE NEW_EXE [POSITIONS] [--runs N]

Each build is driven over the protocol, as a manager would: START 20, the time
limits out of reach, one "play x,y" per stone, then "best". Both run in an
empty directory so that no experience database takes part. With --runs N the
whole set is run N times per build, old and new interleaved, and the median
nodes per second of each build and their ratio are reported.
"""

import argparse
import os
import re
import statistics
import sys
import tempfile
import time

from engine_protocol import Engine, EngineEnded

SEARCH_LINE = re.compile(r"^MESSAGE (-?\d+)\|(-?\d+)\|(-?\d+)$")
DEFAULT_SET = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench", "positions.txt")


class Position:
    """One line of a position set: moves as (x, y), and the recorded answer."""

    def __init__(self, moves, expected_line=None, expected_move=None):
        self.moves = moves
        self.expected_line = expected_line  # "value|score|nodes"
        self.expected_move = expected_move  # "x,y"

    def text(self):
        moves = " ".join(f"{x},{y}" for x, y in self.moves)
        if self.expected_line is None:
            return moves
        return f"{moves} = {self.expected_line} {self.expected_move}"


def parse_point(word, where):
    match = re.fullmatch(r"(\d+),(\d+)", word)
    if not match:
        raise ValueError(f"{where}: '{word}' is not a point x,y")
    x, y = int(match.group(1)), int(match.group(2))
    if x >= 20 or y >= 20:
        raise ValueError(f"{where}: point {word} is off the board")
    return x, y


def read_positions(path):
    positions = []
    with open(path) as file:
        for number, line in enumerate(file, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            where = f"{path}:{number}"
            moves_text, _, expected = line.partition("=")
            moves = [parse_point(word, where) for word in moves_text.split()]
            if len(set(moves)) != len(moves):
                raise ValueError(f"{where}: a point is played twice")
            position = Position(moves)
            if expected.strip():
                fields = expected.split()
                if len(fields) != 2 or not re.fullmatch(r"-?\d+\|-?\d+\|\d+", fields[0]):
                    raise ValueError(f"{where}: expected 'value|score|nodes x,y' after '='")
                parse_point(fields[1], where)
                position.expected_line, position.expected_move = fields
            positions.append(position)
    return positions


class Brain:
    """One engine process in its own empty working directory."""

    def __init__(self, exe):
        self.directory = tempfile.TemporaryDirectory(prefix="tarvo-positions-")
        self.engine = Engine([os.path.abspath(exe)], cwd=self.directory.name)

    def best(self, moves):
        """(search line or None, move, seconds) for the position after the moves."""
        try:
            return self.search(moves)
        except EngineEnded:
            raise RuntimeError("the brain ended its output")

    def search(self, moves):
        self.engine.send("START 20")
        answer = self.engine.read_line().strip()
        if answer != "OK":
            raise RuntimeError(f"START answered '{answer}'")
        self.engine.send("INFO timeout_turn 2147483647", "INFO time_left 2147483647",
                         *(f"play {x},{y}" for x, y in moves))
        started = time.perf_counter()
        self.engine.send("best")
        lines, (x, y) = self.engine.read_move()
        seconds = time.perf_counter() - started
        search_line = None
        for line in lines:
            line = line.strip()
            match = SEARCH_LINE.match(line)
            if match:
                search_line = "|".join(match.groups())
            elif line.startswith("ERROR"):
                raise RuntimeError(f"the brain answered '{line}'")
        return search_line, f"{x},{y}", seconds

    def close(self):
        self.engine.close(10)
        self.directory.cleanup()


def run_set(exe, positions):
    """[(search line, move, seconds)] for every position, from one process."""
    brain = Brain(exe)
    try:
        return [brain.best(position.moves) for position in positions]
    finally:
        brain.close()


def nodes_per_second(results):
    nodes = sum(int(line.split("|")[2]) for line, _, _ in results if line)
    seconds = sum(s for _, _, s in results)
    return nodes / seconds if seconds > 0 else 0.0, nodes, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("old_exe")
    parser.add_argument("new_exe")
    parser.add_argument("positions", nargs="?", default=DEFAULT_SET)
    parser.add_argument("--runs", type=int, default=1, help="runs of the whole set per build, interleaved")
    args = parser.parse_args()

    positions = read_positions(args.positions)
    if not positions:
        print(f"{args.positions}: no positions", file=sys.stderr)
        return 2

    rates = {"old": [], "new": []}
    slowest = {"old": [], "new": []}
    mismatches = 0
    for run in range(args.runs):
        results = {}
        for name, exe in (("old", args.old_exe), ("new", args.new_exe)):
            results[name] = run_set(exe, positions)
            rate, nodes, seconds = nodes_per_second(results[name])
            rates[name].append(rate)
            slowest[name].append(max(s for _, _, s in results[name]))
            print(f"run {run + 1} {name}: {nodes} nodes in {seconds:.3f} s, {rate:.0f} nodes/s, "
                  f"slowest position {slowest[name][-1] * 1000:.0f} ms", flush=True)
        if run > 0:
            continue
        for number, position in enumerate(positions, 1):
            old, new = results["old"][number - 1], results["new"][number - 1]
            problems = []
            if (old[0], old[1]) != (new[0], new[1]):
                problems.append(f"old {old[0]} {old[1]}, new {new[0]} {new[1]}")
            if position.expected_line is not None and (new[0], new[1]) != (position.expected_line,
                                                                           position.expected_move):
                problems.append(f"recorded {position.expected_line} {position.expected_move}")
            if new[0] is None:
                problems.append("no search line: the move came without a search")
            status = "MISMATCH " + "; ".join(problems) if problems else "same"
            mismatches += bool(problems)
            print(f"position {number}: {new[0]} {new[1]}, old {old[2] * 1000:.0f} ms, new {new[2] * 1000:.0f} ms, "
                  f"{status}", flush=True)

    old_rate, new_rate = statistics.median(rates["old"]), statistics.median(rates["new"])
    print(f"median of {args.runs}: old {old_rate:.0f} nodes/s, new {new_rate:.0f} nodes/s, "
          f"ratio {new_rate / old_rate if old_rate else 0:.2f}; slowest position old "
          f"{statistics.median(slowest['old']) * 1000:.0f} ms, new {statistics.median(slowest['new']) * 1000:.0f} ms")
    print(f"{len(positions) - mismatches} of {len(positions)} positions the same")
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
