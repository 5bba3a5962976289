#!/usr/bin/env python3
"""Fits the winrate map: the chance that the side to move wins, from a search value.

Reads games the engine played against itself (tools/referee.py --record DIR), replays
every position of every decided game through the engine as a manager would (BOARD
with the stones so far) and keeps the value of each search it runs ("MESSAGE
value|score|nodes") beside whether the side to move went on to win. A logistic curve
p = 1 / (1 + exp(-(bias + scale * value))) is fitted by maximum likelihood (Newton's
method) on half of the games and judged on the other half (log loss, Brier score and
a calibration table against the base rate), then fitted again on all of them: those
two numbers are the constants of src/search/winrate.cpp.

Proved values (+-20000) are left out: they are certain. So are replies that ran no
search (fast replies, single forced moves) and games that ended without five.
"""

import argparse
import glob
import math
import os
import sys
import tempfile

from engine_protocol import SIZE, Engine, EngineEnded, five_through

WIN = 20000


def read_game(path):
    """The moves (x, y) of a .psq record written by the referee."""
    moves = []
    with open(path) as record:
        for line in record.readlines()[1:]:
            fields = line.strip().split(",")
            if len(fields) == 3 and fields[0].isdigit() and fields[1].isdigit():
                moves.append((int(fields[0]), int(fields[1])))
    return moves


def winner(moves):
    """0 when the first player made five, 1 the second, None without a five."""
    board = [[0] * SIZE for _ in range(SIZE)]
    for i, (x, y) in enumerate(moves):
        board[y][x] = 1 + i % 2
        if five_through(lambda cx, cy: board[cy][cx] or None, x, y):
            return i % 2
    return None


class Searcher:
    def __init__(self, command, timeout_turn, folder):
        self.engine = Engine(command, cwd=folder)
        self.timeout_turn = timeout_turn

    def value(self, moves):
        """The search value for the side to move after the moves, or None when the
        reply ran no search."""
        mover = len(moves) % 2
        self.engine.send("START 20", f"INFO timeout_turn {self.timeout_turn}", "INFO time_left 2147483647", "BOARD",
                         *(f"{x},{y},{1 if i % 2 == mover else 2}" for i, (x, y) in enumerate(moves)), "DONE")
        try:
            lines, _ = self.engine.read_move()
        except EngineEnded:
            raise RuntimeError("the engine ended")
        value = None
        for line in lines:
            line = line.strip()
            if line.startswith("MESSAGE "):
                fields = line[8:].split("|")
                if len(fields) == 3 and all(f.lstrip("-").isdigit() for f in fields):
                    value = int(fields[0])
        return value

    def close(self):
        self.engine.close(5)


def collect(engine_command, paths, timeout_turn):
    """(game index, value, 1 if the side to move won) for every searched position."""
    samples = []
    with tempfile.TemporaryDirectory() as folder:  # no tarvo/: nothing learned, nothing recommended
        engine = Searcher(engine_command, timeout_turn, folder)
        for index, path in enumerate(paths):
            moves = read_game(path)
            won_by = winner(moves)
            if won_by is None:
                continue
            for k in range(1, len(moves)):
                value = engine.value(moves[:k])
                if value is not None and abs(value) < WIN:
                    samples.append((index, value, 1 if k % 2 == won_by else 0))
            print(f"{index + 1}/{len(paths)} games, {len(samples)} values", file=sys.stderr, flush=True)
        engine.close()
    return samples


def sigmoid(z):
    return 1.0 / (1.0 + math.exp(-z)) if z > -700 else 0.0


def fit(samples):
    """bias, scale of the logistic curve by Newton's method on the log likelihood."""
    bias, scale = 0.0, 0.0
    unit = 1000.0  # values are scaled so that both unknowns have the same size
    for _ in range(50):
        g0 = g1 = h00 = h01 = h11 = 0.0
        for _, value, won in samples:
            v = value / unit
            p = sigmoid(bias + scale * v)
            g0 += won - p
            g1 += (won - p) * v
            w = p * (1 - p)
            h00 += w
            h01 += w * v
            h11 += w * v * v
        det = h00 * h11 - h01 * h01
        if det <= 0:
            break
        step0 = (h11 * g0 - h01 * g1) / det
        step1 = (h00 * g1 - h01 * g0) / det
        bias += step0
        scale += step1
        if abs(step0) < 1e-10 and abs(step1) < 1e-10:
            break
    return bias, scale / unit


def judge(samples, bias, scale):
    n = len(samples)
    base = sum(won for _, _, won in samples) / n
    clip = lambda p: min(max(p, 1e-12), 1 - 1e-12)
    loss = brier = base_loss = base_brier = 0.0
    right = 0
    for _, value, won in samples:
        p = sigmoid(bias + scale * value)
        loss -= math.log(clip(p if won else 1 - p))
        brier += (p - won) ** 2
        base_loss -= math.log(clip(base if won else 1 - base))
        base_brier += (base - won) ** 2
        right += (p >= 0.5) == (won == 1)
    return {"n": n, "log_loss": loss / n, "base_log_loss": base_loss / n, "brier": brier / n,
            "base_brier": base_brier / n, "accuracy": right / n, "base_rate": base}


def calibration(samples, bias, scale, bins=10):
    """Rows (predicted low, high, count, mean predicted, observed rate) by predicted chance."""
    rows = []
    for b in range(bins):
        low, high = b / bins, (b + 1) / bins
        chosen = [(sigmoid(bias + scale * v), won) for _, v, won in samples
                  if low <= sigmoid(bias + scale * v) < high or (b == bins - 1 and sigmoid(bias + scale * v) == 1)]
        if chosen:
            rows.append((low, high, len(chosen), sum(p for p, _ in chosen) / len(chosen),
                         sum(w for _, w in chosen) / len(chosen)))
    return rows


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("games", help="folder of .psq records (tools/referee.py --record)")
    parser.add_argument("--engine", default=os.path.join(os.path.dirname(__file__), "..", "build", "pbrain-tarvo"))
    parser.add_argument("--timeout-turn", type=int, default=60000,
                        help="ms per search; long enough that every search reaches its depth")
    parser.add_argument("--samples", help="file of 'game value won' lines: read if it exists, else written")
    args = parser.parse_args(argv)

    paths = sorted(glob.glob(os.path.join(args.games, "*.psq")))
    if not paths:
        parser.error(f"no .psq records in {args.games}")
    if args.samples and os.path.exists(args.samples):
        with open(args.samples) as f:
            samples = [tuple(int(x) for x in line.split()) for line in f if line.strip()]
    else:
        samples = collect(args.engine, paths, args.timeout_turn)
        if args.samples:
            with open(args.samples, "w") as f:
                f.writelines(f"{g} {v} {w}\n" for g, v, w in samples)
    if len(samples) < 50:
        print(f"only {len(samples)} values: too few to fit", file=sys.stderr)
        return 1

    decided = len({g for g, _, _ in samples})
    print(f"data: {len(paths)} records, {decided} decided games with searched positions, {len(samples)} values")
    train = [s for s in samples if s[0] % 2 == 0]
    test = [s for s in samples if s[0] % 2 == 1]
    bias, scale = fit(train)
    print(f"fit on the even games ({len(train)} values): bias {bias:.4f}, scale {scale:.6f}")
    quality = judge(test, bias, scale)
    print("on the odd games ({n} values): log loss {log_loss:.4f} (base rate {base_rate:.3f} alone: "
          "{base_log_loss:.4f}), Brier {brier:.4f} (base rate alone: {base_brier:.4f}), "
          "side named by p >= 0.5 right in {accuracy:.1%}".format(**quality))
    print("calibration on the odd games: predicted range, values, mean predicted, observed")
    for low, high, count, predicted, observed in calibration(test, bias, scale):
        print(f"  {low:.1f}-{high:.1f}  {count:6d}  {predicted:.3f}  {observed:.3f}")
    bias, scale = fit(samples)
    print(f"fit on all games: bias {bias:.4f}, scale {scale:.6f}  "
          f"(src/search/winrate.cpp: WinrateBias, WinrateScale)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
