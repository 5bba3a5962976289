#!/usr/bin/env python3
"""Plays two Gomocup brains against each other the way a tournament manager does.

Each brain runs as one child process for the whole match; every game begins with
START 20 and the INFO settings, then BEGIN, or an opening sent with BOARD to each
brain on its first move and continued with TURN. Every reply is checked (a legal
"x,y" on an empty cell, in time); MESSAGE/DEBUG lines are skipped and ERROR lines
counted as protocol errors. The exit status is 1 when any brain made an illegal
move, crashed, replied late or broke the protocol, else 0.
"""

import argparse
import os
import random
import sys
import time

from engine_protocol import SIZE, Engine, EngineEnded, EngineSilent, five_through

NO_LIMIT_TIME_LEFT = 2147483647


class BrainFailure(Exception):
    """The brain lost the game by breaking a rule; kind is the stats key."""

    def __init__(self, kind, text):
        super().__init__(text)
        self.kind = kind


class Stats:
    def __init__(self):
        self.wins = 0
        self.illegal = 0
        self.crashes = 0
        self.late = 0
        self.protocol_errors = 0
        self.replies = 0
        self.worst_reply_ms = 0.0
        self.worst_overshoot_ms = None  # reply time minus the limit in force
        self.reply_times = []  # ms of every move reply

    def median_reply_ms(self):
        times = sorted(self.reply_times)
        if not times:
            return 0.0
        middle = len(times) // 2
        return times[middle] if len(times) % 2 else (times[middle - 1] + times[middle]) / 2

    def faults(self):
        return self.illegal + self.crashes + self.late + self.protocol_errors


class Brain:
    def __init__(self, name, command, verbose, stderr):
        self.name = name
        self.command = command
        self.verbose = verbose
        self.stderr = stderr
        self.engine = None
        self.stats = Stats()
        self.last_elapsed = None  # ms of a reply that never came

    def start(self):
        self.engine = Engine(self.command, stderr=self.stderr, log=self.echo if self.verbose else None)

    def echo(self, direction, line):
        print(f"  {'->' if direction == '>' else '<-'} {self.name}: {line}", file=sys.stderr)

    def alive(self):
        return self.engine is not None and self.engine.alive()

    def send(self, line):
        try:
            self.engine.send(line)
        except EngineEnded:
            raise BrainFailure("crashes", f"{self.name} closed its input")

    def read_line(self, deadline):
        """The next line, None on end of output, or "" when the deadline passed."""
        try:
            return self.engine.read_line(deadline=deadline)
        except EngineEnded:
            return None
        except EngineSilent:
            return ""

    def reply(self, started, limit_ms, grace_ms, expect):
        """Reads up to the first line that is not MESSAGE/DEBUG/ERROR.

        started is the monotonic time the command was written; limit_ms the time
        the brain is allowed (0: none). Returns (text, elapsed ms)."""
        wait_ms = (limit_ms if limit_ms > 0 else 0) + grace_ms
        deadline = started + wait_ms / 1000.0
        while True:
            line = self.read_line(deadline)
            if line is None:
                raise BrainFailure("crashes", f"{self.name} ended while a {expect} was awaited")
            if line == "":
                elapsed = (time.monotonic() - started) * 1000.0
                self.note_time(elapsed, limit_ms)
                self.last_elapsed = elapsed
                raise BrainFailure("late", f"{self.name} gave no {expect} within {elapsed:.0f} ms")
            word = line.split(" ", 1)[0].upper()
            if word == "ERROR":
                self.stats.protocol_errors += 1
                print(f"protocol error from {self.name}: {line}")
                continue
            if word in ("MESSAGE", "DEBUG"):
                continue
            elapsed = (time.monotonic() - started) * 1000.0
            return line, elapsed

    def note_time(self, elapsed, limit_ms):
        self.stats.worst_reply_ms = max(self.stats.worst_reply_ms, elapsed)
        if limit_ms > 0:
            overshoot = elapsed - limit_ms
            if self.stats.worst_overshoot_ms is None or overshoot > self.stats.worst_overshoot_ms:
                self.stats.worst_overshoot_ms = overshoot

    def stop(self, timeout=3.0):
        if self.engine is None:
            return
        if self.alive():
            try:
                self.send("END")
            except BrainFailure:
                pass
            if self.engine.exit_status(timeout) is None:
                self.kill()
        code = self.engine.returncode
        self.engine = None
        return code

    def kill(self):
        if self.engine is not None:
            self.engine.kill()


def made_five(board, x, y):
    """Whether the stone at (x, y) of board (rows of 0 for empty, else the player) makes five."""
    return five_through(lambda cx, cy: board[cy][cx] or None, x, y) is not None


def random_opening(rng, stones):
    """stones alternating black/white near the centre, with no five among them."""
    while True:
        moves = []
        taken = set()
        while len(moves) < stones:
            cell = (rng.randint(6, 13), rng.randint(6, 13))
            if cell not in taken:
                taken.add(cell)
                moves.append(cell)
        board = [[0] * SIZE for _ in range(SIZE)]
        ok = True
        for i, (x, y) in enumerate(moves):
            board[y][x] = 1 + i % 2
            if made_five(board, x, y):
                ok = False
        if ok:
            return moves


def parse_move(text):
    parts = text.split(",")
    if len(parts) != 2:
        return None
    try:
        return int(parts[0].strip()), int(parts[1].strip())
    except ValueError:
        return None


def board_picture(board, last):
    """X black, O white; the last stone in lower case."""
    lines = ["   " + "".join(f"{x:3d}" for x in range(SIZE))]
    for y in range(SIZE):
        row = ""
        for x in range(SIZE):
            mark = ".XO"[board[y][x]]
            row += "  " + (mark.lower() if (x, y) == last else mark)
        lines.append(f"{y:2d} " + row)
    return "\n".join(lines)


class Match:
    def __init__(self, args):
        self.args = args
        stderr = None if args.brain_stderr == "-" else open(args.brain_stderr, "ab")
        self.brains = [Brain("A", args.brain_a, args.verbose, stderr),
                       Brain("B", args.brain_b if args.brain_b else args.brain_a,
                             args.verbose, stderr)]
        self.rng = random.Random(args.seed)
        self.reply_log = open(args.reply_log, "a") if args.reply_log else None
        self.draws = 0
        self.games_played = 0
        self.moves = []

    def limit_for(self, brain_index, time_left):
        turn = self.turn_ms(brain_index)
        if self.args.timeout_match > 0:
            return min(turn, time_left[brain_index]) if turn > 0 else time_left[brain_index]
        return turn

    def log_reply(self, number, brain, command, elapsed, limit):
        """One line per move reply: game, move number, brain, command word, ms, limit."""
        if self.reply_log:
            self.reply_log.write(f"game {number} move {len(self.moves) + 1} brain {brain.name} "
                                 f"{command.split()[0]} {elapsed:.1f} ms limit {limit}\n")
            self.reply_log.flush()

    def turn_ms(self, brain_index):
        b = self.args.timeout_turn_b
        return b if brain_index == 1 and b is not None else self.args.timeout_turn

    def start_game(self, brain, time_left_value):
        if not brain.alive():
            brain.start()
        started = time.monotonic()
        brain.send(f"START {SIZE}")
        line, _ = brain.reply(started, 0, self.args.start_grace, "START answer")
        if line.strip().upper() != "OK":
            brain.stats.protocol_errors += 1
            print(f"protocol error from {brain.name}: START answered {line!r}")
        if self.args.info_folder:
            brain.send(f"INFO folder {self.args.info_folder}")
        brain.send(f"INFO timeout_turn {self.turn_ms(self.brains.index(brain))}")
        brain.send(f"INFO timeout_match {self.args.timeout_match}")
        brain.send(f"INFO time_left {time_left_value}")
        brain.send(f"INFO max_memory {self.args.max_memory}")
        brain.send("INFO rule 0")

    def play_game(self, number, black, opening):
        """Returns (winner index or None, board, last move, text); the moves played
        are left in self.moves."""
        board = [[0] * SIZE for _ in range(SIZE)]
        moves = self.moves = []  # (x, y, colour) colour 1 black, 2 white
        time_left = [self.args.timeout_match] * 2
        colour_of = {black: 1, 1 - black: 2}
        no_limit = self.args.timeout_match <= 0
        for i, brain in enumerate(self.brains):
            try:
                self.start_game(brain, NO_LIMIT_TIME_LEFT if no_limit else time_left[i])
            except BrainFailure as failure:
                return self.forfeit(i, failure, board, None)
        for i, (x, y) in enumerate(opening):
            board[y][x] = 1 + i % 2
            moves.append((x, y, 1 + i % 2))
        to_move = black if len(opening) % 2 == 0 else 1 - black
        first_command = [True, True]
        last = opening[-1] if opening else None
        while True:
            if len(moves) == SIZE * SIZE:
                return None, board, last, "draw (full board)"
            brain = self.brains[to_move]
            try:
                if not no_limit:
                    brain.send(f"INFO time_left {max(0, int(time_left[to_move]))}")
                if first_command[to_move] and not moves:
                    command = ["BEGIN"]
                elif first_command[to_move] and opening:
                    own = colour_of[to_move]
                    command = ["BOARD"] + [
                        f"{x},{y},{1 if c == own else 2}" for x, y, c in moves] + ["DONE"]
                else:
                    x, y, _ = moves[-1]
                    command = [f"TURN {x},{y}"]
                first_command[to_move] = False
                for line in command[:-1]:
                    brain.send(line)
                started = time.monotonic()
                brain.send(command[-1])
                limit = self.limit_for(to_move, time_left)
                brain.last_elapsed = None
                try:
                    line, elapsed = brain.reply(started, limit, self.args.grace, "move")
                except BrainFailure:
                    if brain.last_elapsed is not None:
                        self.log_reply(number, brain, command[0], brain.last_elapsed, limit)
                    raise
                self.log_reply(number, brain, command[0], elapsed, limit)
                brain.stats.replies += 1
                brain.stats.reply_times.append(elapsed)
                brain.note_time(elapsed, limit)
                if not no_limit:
                    time_left[to_move] -= elapsed
                if limit > 0 and elapsed > limit:
                    raise BrainFailure("late", f"{brain.name} replied after {elapsed:.0f} ms, "
                                       f"limit {limit} ms")
                move = parse_move(line)
                if move is None:
                    raise BrainFailure("illegal", f"{brain.name} answered {line!r}")
                x, y = move
                if not (0 <= x < SIZE and 0 <= y < SIZE):
                    raise BrainFailure("illegal", f"{brain.name} played {x},{y} off the board")
                if board[y][x]:
                    raise BrainFailure("illegal", f"{brain.name} played {x},{y} on a stone")
            except BrainFailure as failure:
                return self.forfeit(to_move, failure, board, last)
            colour = colour_of[to_move]
            board[y][x] = colour
            moves.append((x, y, colour))
            last = (x, y)
            if made_five(board, x, y):
                return to_move, board, last, f"{brain.name} made five at {x},{y}"
            to_move = 1 - to_move

    def record(self, number):
        """The game as a .psq record: a header naming the board, then x,y,ms lines
        with the coordinates counted from 0, as the brains' own readers take them."""
        os.makedirs(self.args.record, exist_ok=True)
        path = os.path.join(self.args.record, f"game{number:04d}.psq")
        with open(path, "w") as record:
            record.write(f"Piskvork {SIZE}x{SIZE}, 0:0, 0\n")
            for x, y, _ in self.moves:
                record.write(f"{x},{y},0\n")

    def forfeit(self, loser, failure, board, last):
        brain = self.brains[loser]
        setattr(brain.stats, failure.kind, getattr(brain.stats, failure.kind) + 1)
        print(f"{failure.kind}: {failure}")
        if failure.kind in ("crashes", "late"):
            brain.kill()  # a hung or dead brain is restarted for the next game
        return 1 - loser, board, last, f"{brain.name} forfeits ({failure.kind})"

    def run(self):
        lo, hi = self.args.opening_stones
        for number in range(1, self.args.games + 1):
            black = (number - 1) % 2
            # Paired: games 2k-1 and 2k share their opening, the brains swapping colours.
            if not self.args.paired or number % 2 == 1:
                opening = random_opening(self.rng, self.rng.randint(lo, hi))
            winner, board, last, text = self.play_game(number, black, opening)
            self.games_played += 1
            if winner is None:
                self.draws += 1
                result = "draw"
            else:
                self.brains[winner].stats.wins += 1
                result = f"{self.brains[winner].name} wins"
            if self.args.record:
                self.record(number)
            stones = sum(1 for row in board for v in row if v)
            print(f"game {number}: black {self.brains[black].name}, opening {len(opening)} "
                  f"stones, {stones} stones at the end: {result} ({text})")
            show = self.args.print_boards
            if show == "all" or (show == "last" and number == self.args.games):
                print(board_picture(board, last))
            sys.stdout.flush()
        for brain in self.brains:
            alive = brain.alive()
            code = brain.stop()
            if alive and code not in (0, None):
                brain.stats.crashes += 1
                print(f"crashes: {brain.name} ended with status {code} after END")

    def report(self):
        print(f"result: {self.games_played} games, A {self.brains[0].stats.wins} wins, "
              f"B {self.brains[1].stats.wins} wins, {self.draws} draws")
        for brain in self.brains:
            s = brain.stats
            overshoot = "n/a" if s.worst_overshoot_ms is None else f"{s.worst_overshoot_ms:.1f} ms"
            print(f"brain {brain.name}: replies {s.replies}, illegal moves {s.illegal}, "
                  f"crashes {s.crashes}, late replies {s.late}, protocol errors "
                  f"{s.protocol_errors}, median reply {s.median_reply_ms():.1f} ms, "
                  f"worst reply {s.worst_reply_ms:.1f} ms, worst overshoot {overshoot}")
        return 1 if any(b.stats.faults() for b in self.brains) else 0


def stone_range(text):
    lo, _, hi = text.partition("-")
    lo, hi = int(lo), int(hi or lo)
    if not 0 <= lo <= hi <= 20:
        raise argparse.ArgumentTypeError("expected N or MIN-MAX with 0 <= MIN <= MAX <= 20")
    return lo, hi


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("brain_a", help="command line of brain A")
    parser.add_argument("brain_b", nargs="?", help="command line of brain B (default: A again)")
    parser.add_argument("--games", type=int, default=2)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--opening-stones", type=stone_range, default=(0, 4),
                        help="stones of the random openings, N or MIN-MAX (0: BEGIN)")
    parser.add_argument("--timeout-turn", type=int, default=1000, help="ms, 0: no limit")
    parser.add_argument("--timeout-turn-b", type=int, help="ms for brain B (default: --timeout-turn)")
    parser.add_argument("--timeout-match", "--time-left", type=int, default=0,
                        help="ms per brain and game; time_left counts down from it (0: no limit)")
    parser.add_argument("--max-memory", type=int, default=83886080)
    parser.add_argument("--grace", type=int, default=3000,
                        help="ms to wait past the limit before a brain counts as hung")
    parser.add_argument("--start-grace", type=int, default=10000,
                        help="ms allowed for the answer to START")
    parser.add_argument("--print-boards", choices=("all", "last", "none"), default="last")
    parser.add_argument("--brain-stderr", default="-", help="file for the brains' stderr")
    parser.add_argument("--verbose", action="store_true", help="log the traffic to stderr")
    parser.add_argument("--paired", action="store_true",
                        help="play each opening twice, the brains swapping colours")
    parser.add_argument("--reply-log", metavar="FILE",
                        help="append one line per move reply: game, move, brain, command, ms, limit")
    parser.add_argument("--info-folder", metavar="DIR",
                        help="send INFO folder DIR after START (the brains' folder for permanent files)")
    parser.add_argument("--record", metavar="DIR",
                        help="write every game to DIR/gameNNNN.psq (coordinates from 0)")
    args = parser.parse_args(argv)
    if args.games < 1:
        parser.error("--games must be at least 1")
    match = Match(args)
    try:
        match.run()
    finally:
        for brain in match.brains:
            brain.kill()
    return match.report()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
