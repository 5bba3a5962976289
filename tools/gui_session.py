#!/usr/bin/env python3
"""Plays a game against a brain the way Yixin-Board drives it, and checks every reply.

The brain is started as Yixin-Board starts it ("--force-utf8", lower-case words, CR LF)
and gets Yixin-Board's start-up lines, then for every move of the brain "start 20",
the whole position with board ... done and "INFO time_left"; while the human is to move,
"yxshowforbid"; at the GUI's "unlimited" level the brain thinks until the user presses
Stop (yxstop), here after --think seconds. Midway the position is set with yxboard and the three best moves are
asked with "yxnbest 3"; yxstop (idle), yxhashclear and other yx words with and without
their blocks come in between. Every reply is read as the GUI reads it (upper-cased):
an ERROR line, a move on a stone or a last analysis block (a brain that deepens writes
one per depth) that does not name the move played is a failure. Prints what the GUI would draw for each move of the brain
(the move, its tag: "W n"/"L n" for a proved line, else the winrate; the line), and
with --transcript writes the whole session, both directions, to a file.
The exit status is 1 on any failure.
"""

import argparse
import os
import re
import sys
import tempfile
import time

from engine_protocol import SIZE, Engine, EngineEnded, EngineSilent, five_through, longest_line

START_UP = ["info show_detail 3", "yxshowinfo", "start 20",
            "INFO timeout_match 100000000", "INFO timeout_turn 2000000", "INFO max_node -1",
            "INFO max_depth 400", "INFO time_increment 0", "INFO caution_factor 1",
            "INFO thread_num 1", "INFO hash_size 1048576", "INFO pondering 0", "INFO rule 0",
            "INFO usedatabase 1"]
MOVE = re.compile(r"^\d+,\d+$")


class Failure(Exception):
    pass


class Gui:
    def __init__(self, command, folder, transcript, timeout, think):
        self.transcript = transcript
        self.engine = Engine(command, cwd=folder, args=["--force-utf8"],
                             log=lambda direction, line: transcript.append(direction + " " + line))
        self.timeout = timeout
        self.think = think
        self.stop_at = None  # when the user presses Stop if no move has come
        self.errors = 0

    def send(self, *lines):
        try:
            self.engine.send(*lines)
        except EngineEnded:
            raise Failure("the brain ended")

    def read_line(self):
        text = None
        if self.stop_at is not None:
            # The user presses Stop when no line has come by then.
            try:
                text = self.engine.read_line(deadline=self.stop_at)
            except EngineSilent:
                self.stop_at = None
                self.send("yxstop")
            except EngineEnded:
                raise Failure("the brain ended")
        if text is None:
            try:
                text = self.engine.read_line(self.timeout)
            except EngineSilent:
                raise Failure("no reply within %d s" % self.timeout)
            except EngineEnded:
                raise Failure("the brain ended")
        if text.upper().startswith("ERROR"):
            self.errors += 1
        return text

    def read_until(self, done):
        """Lines up to and including the first one for which done(upper-cased line) holds."""
        lines = []
        while True:
            line = self.read_line()
            lines.append(line)
            if done(line.upper()):
                return lines

    def expect_silence(self, *lines):
        """Sends the lines, then yxshowforbid: nothing may come before its FORBID line."""
        self.send(*lines, "yxshowforbid")
        replies = self.read_until(lambda u: u.startswith("FORBID"))
        if len(replies) != 1:
            raise Failure(f"{lines[0]!r} was answered: {replies[:-1]}")

    def close(self):
        self.send("end")
        if self.engine.exit_status(5) is None:
            self.engine.kill()
            raise Failure("the brain did not end on 'end'")


def blocks_of(lines):
    """The INFO PV blocks of a reply as dicts of their keys."""
    blocks, current = [], None
    for line in lines:
        words = line.upper().split(" ", 2)
        if words[0] != "INFO" or len(words) < 2:
            continue
        if words[1] == "PV":
            if len(words) < 3:
                raise Failure("INFO PV without a value")
            if words[2] == "DONE":
                if current is None:
                    raise Failure("INFO PV DONE outside a block")
                blocks.append(current)
                current = None
            else:
                current = {"PV": words[2]}
        elif current is not None:
            current[words[1]] = words[2] if len(words) > 2 else ""
    if current is not None:
        raise Failure("an INFO PV block without its DONE")
    return blocks


def tag(block):
    """What the GUI writes on the move of a block."""
    value = block.get("EVAL", "")
    if value.startswith("+M"):
        return "W " + value[2:].strip()
    if value.startswith("-M"):
        return "L " + value[2:].strip()
    return "%.0f%%" % (100 * float(block["WINRATE"]))


def check_block(block, stones, index, count):
    for key in ("NUMPV", "DEPTH", "EVAL", "WINRATE", "BESTLINE"):
        if key not in block:
            raise Failure(f"block {index} has no {key}")
    if block["PV"] != str(index) or block["NUMPV"] != str(count):
        raise Failure(f"block {block['PV']} of {block['NUMPV']}, expected {index} of {count}")
    if not re.fullmatch(r"-?\d+|[+-]M \d+", block["EVAL"]):
        raise Failure(f"EVAL {block['EVAL']!r}")
    if not 0 <= float(block["WINRATE"]) <= 1:
        raise Failure(f"WINRATE {block['WINRATE']}")
    taken = dict(stones)
    line = block["BESTLINE"].split()
    for i, point in enumerate(line):
        if not MOVE.match(point):
            raise Failure(f"BESTLINE {block['BESTLINE']!r}")
        x, y = map(int, point.split(","))
        if not (0 <= x < SIZE and 0 <= y < SIZE) or (x, y) in taken:
            raise Failure(f"BESTLINE move {i + 1}, {point}, is no legal move")
        taken[(x, y)] = i
    return tuple(map(int, line[0].split(","))) if line else None


def five(stones, x, y):
    return five_through(lambda cx, cy: stones.get((cx, cy)), x, y) is not None


def brain_move(gui, stones, order, command, count=1):
    """Sends the position (board or yxboard) and reads the brain's move with its blocks."""
    mine = len(order) % 2  # the brain's stones are the colour to move
    position = [f"{x},{y},{1 if i % 2 == mine else 2}" for i, (x, y) in enumerate(order)]
    if command == "board":
        gui.send("start 20", "board", *position, "done", "INFO time_left 100000000")
    else:
        gui.expect_silence("yxboard", *position, "done")
        gui.send(f"yxnbest {count}")
    gui.stop_at = time.monotonic() + gui.think
    lines = gui.read_until(lambda u: bool(MOVE.match(u)))
    gui.stop_at = None
    x, y = map(int, lines[-1].split(","))
    if (x, y) in stones or not (0 <= x < SIZE and 0 <= y < SIZE):
        raise Failure(f"the brain played {x},{y}, which is no empty point")
    blocks = blocks_of(lines)
    if len(blocks) < count:
        raise Failure(f"{len(blocks)} analysis blocks, expected {count} at the end")
    for b in blocks[:-count]:
        check_block(b, stones, int(b["PV"]), int(b.get("NUMPV", "0")))
    blocks = blocks[-count:]
    firsts = [check_block(b, stones, i, count) for i, b in enumerate(blocks)]
    if firsts[0] != (x, y):
        raise Failure(f"the first block names {firsts[0]}, the move is {x},{y}")
    if len(set(firsts)) != count:
        raise Failure(f"the blocks' first moves repeat: {firsts}")
    best = [l for l in lines if l.upper().startswith("MESSAGE REALTIME BEST")]
    if not best or best[-1] != f"MESSAGE REALTIME BEST {x},{y}":
        raise Failure(f"REALTIME BEST lines {best} for the move {x},{y}")
    return (x, y), blocks


def run_through(stones, x, y, colour):
    """The longest line of colour the point would complete."""
    return longest_line(lambda cx, cy: stones.get((cx, cy)), x, y, colour)


def human_move(stones):
    """A plain human: blocks the brain's longest line, else lengthens its own."""
    best, best_score = None, -1
    for y in range(SIZE):
        for x in range(SIZE):
            if (x, y) in stones or not any((x + dx, y + dy) in stones for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                continue
            own, other = run_through(stones, x, y, 0), run_through(stones, x, y, 1)
            score = max(10 * own if own >= 5 else 0, 3 * other, 2 * own)
            if score > best_score:
                best, best_score = (x, y), score
    return best


def play(gui, moves, drawn):
    gui.send(*START_UP)
    startup = gui.read_until(lambda u: u == "OK")
    if not any(l.upper().startswith("MESSAGE INFO MAX_THREAD_NUM ") for l in startup) or \
            not any(re.fullmatch(r"MESSAGE INFO MAX_HASH_SIZE \d+", l.upper()) for l in startup):
        raise Failure(f"yxshowinfo answered {startup}")
    gui.expect_silence("yxhashclear")
    stones, order = {}, []  # stones: point -> 0 for the human's colour, 1 for the brain's
    human = (9, 9)  # the human opens
    for turn in range(moves):
        stones[human] = 0
        order.append(human)
        if five(stones, *human):
            drawn.append(f"the human made five at {human[0]},{human[1]}")
            return
        if turn == 2:
            # The user asks for the three best moves of the position.
            move, blocks = brain_move(gui, stones, order, "yxboard", 3)
            drawn.append("yxnbest 3: " + "; ".join(
                f"{b['BESTLINE'].split()[0]} [{tag(b)}]" for b in blocks) + f"; the reply {move[0]},{move[1]}")
            gui.expect_silence("yxstop")
        move, blocks = brain_move(gui, stones, order, "board")
        drawn.append(f"brain {move[0]},{move[1]} [{tag(blocks[0])}], line {blocks[0]['BESTLINE']}")
        stones[move] = 1
        order.append(move)
        if five(stones, *move):
            drawn.append(f"the brain made five at {move[0]},{move[1]}")
            return
        gui.expect_silence("yxblock", "done")
        gui.expect_silence("yxquerydatabaseall", f"{move[0]},{move[1]},1", "done")
        human = human_move(stones)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--engine", default=os.path.join(os.path.dirname(__file__), "..", "build", "pbrain-tarvo"))
    parser.add_argument("--moves", type=int, default=12, help="the brain's moves at most")
    parser.add_argument("--timeout", type=int, default=60, help="s to wait for one reply")
    parser.add_argument("--think", type=float, default=2.0, help="s until the user presses Stop")
    parser.add_argument("--transcript", help="file for the whole session")
    args = parser.parse_args(argv)
    transcript, drawn = [], []
    failure = None
    with tempfile.TemporaryDirectory() as folder:
        gui = Gui(args.engine, folder, transcript, args.timeout, args.think)
        try:
            play(gui, args.moves, drawn)
            gui.close()
        except Failure as problem:
            failure = problem
            gui.engine.kill()
    if args.transcript:
        with open(args.transcript, "w") as f:
            f.write("\n".join(transcript) + "\n")
    print("\n".join(drawn))
    print(f"{sum(1 for l in transcript if l.startswith('>'))} lines sent, "
          f"{sum(1 for l in transcript if l.startswith('<'))} read, {gui.errors} ERROR lines")
    if failure:
        print(f"FAILED: {failure}")
    return 1 if failure or gui.errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
