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

--bootstrap N refits on N resamples of whole games (positions of one game are not
independent) and prints the 95 % interval of each constant, and of a first-move term
(black to move against white to move at the same value): the bias is kept only where
its interval excludes 0; --no-bias fits the scale alone.

Proved values (+-20000) are left out: they are certain. So are replies that ran no
search (fast replies, single forced moves) and games that ended without five.
"""

import argparse
import glob
import math
import random
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
    """(game index, value, 1 if the side to move won, 1 if black was to move) for every
    searched position."""
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
                    samples.append((index, value, 1 if k % 2 == won_by else 0, 1 if k % 2 == 0 else 0))
            print(f"{index + 1}/{len(paths)} games, {len(samples)} values", file=sys.stderr, flush=True)
        engine.close()
    return samples


def sigmoid(z):
    return 1.0 / (1.0 + math.exp(-z)) if z > -700 else 0.0


def fit_logistic(rows, width):
    """Maximum-likelihood weights of p = sigmoid(w . x) over rows (x, won), by Newton's
    method; x has `width` features."""
    w = [0.0] * width
    for _ in range(50):
        g = [0.0] * width
        h = [[0.0] * width for _ in range(width)]
        for x, won in rows:
            p = sigmoid(sum(wi * xi for wi, xi in zip(w, x)))
            for i in range(width):
                g[i] += (won - p) * x[i]
                for j in range(width):
                    h[i][j] += p * (1 - p) * x[i] * x[j]
        step = solve(h, g)
        if step is None:
            break
        w = [wi + si for wi, si in zip(w, step)]
        if max(abs(si) for si in step) < 1e-10:
            break
    return w


def solve(a, b):
    """x with a x = b by Gaussian elimination, or None for a singular a."""
    n = len(b)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for c in range(n):
        pivot = max(range(c, n), key=lambda r: abs(m[r][c]))
        if abs(m[pivot][c]) < 1e-12:
            return None
        m[c], m[pivot] = m[pivot], m[c]
        for r in range(n):
            if r != c:
                f = m[r][c] / m[c][c]
                m[r] = [vr - f * vc for vr, vc in zip(m[r], m[c])]
    return [m[i][n] / m[i][i] for i in range(n)]


UNIT = 1000.0  # values are scaled so that the unknowns have the same size


def fit(samples, with_bias=True):
    """bias, scale of the logistic curve (bias 0 without with_bias)."""
    if with_bias:
        bias, scale = fit_logistic([((1.0, s[1] / UNIT), s[2]) for s in samples], 2)
    else:
        bias, (scale,) = 0.0, fit_logistic([((s[1] / UNIT,), s[2]) for s in samples], 1)
    return bias, scale / UNIT


def fit_first_move(samples):
    """bias, scale and the first-move term t of sigmoid(bias + scale * value + t * side),
    side +1 with black to move and -1 with white."""
    rows = [((1.0, s[1] / UNIT, 1.0 if s[3] else -1.0), s[2]) for s in samples]
    bias, scale, term = fit_logistic(rows, 3)
    return bias, scale / UNIT, term


def bootstrap(samples, rounds, seed=1):
    """95 % intervals of (bias, scale) and of the first-move fit's term, resampling games."""
    games = {}
    for s in samples:
        games.setdefault(s[0], []).append(s)
    keys = sorted(games)
    dice = random.Random(seed)
    biases, scales, terms = [], [], []
    coloured = all(len(s) > 3 for s in samples)
    for _ in range(rounds):
        chosen = [s for _ in keys for s in games[dice.choice(keys)]]
        bias, scale = fit(chosen)
        biases.append(bias)
        scales.append(scale)
        if coloured:
            terms.append(fit_first_move(chosen)[2])
    interval = lambda xs: (sorted(xs)[int(0.025 * len(xs))], sorted(xs)[int(0.975 * len(xs)) - 1]) if xs else None
    return interval(biases), interval(scales), interval(terms)


def judge(samples, bias, scale):
    n = len(samples)
    base = sum(s[2] for s in samples) / n
    clip = lambda p: min(max(p, 1e-12), 1 - 1e-12)
    loss = brier = base_loss = base_brier = 0.0
    right = 0
    for _, value, won, *_ in samples:
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
        chosen = [(sigmoid(bias + scale * v), won) for _, v, won, *_ in samples
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
    parser.add_argument("--samples", help="file of 'game value won black' lines: read if it exists, else written")
    parser.add_argument("--bootstrap", type=int, default=0, metavar="N",
                        help="95 %% intervals of the constants from N resamples of the games")
    parser.add_argument("--no-bias", action="store_true", help="fit the scale alone: a value of 0 reads 50 %%")
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
                f.writelines(" ".join(str(x) for x in s) + "\n" for s in samples)
    if len(samples) < 50:
        print(f"only {len(samples)} values: too few to fit", file=sys.stderr)
        return 1

    decided = len({s[0] for s in samples})
    print(f"data: {len(paths)} records, {decided} decided games with searched positions, {len(samples)} values")
    train = [s for s in samples if s[0] % 2 == 0]
    test = [s for s in samples if s[0] % 2 == 1]
    bias, scale = fit(train, not args.no_bias)
    print(f"fit on the even games ({len(train)} values): bias {bias:.4f}, scale {scale:.6f}")
    quality = judge(test, bias, scale)
    print("on the odd games ({n} values): log loss {log_loss:.4f} (base rate {base_rate:.3f} alone: "
          "{base_log_loss:.4f}), Brier {brier:.4f} (base rate alone: {base_brier:.4f}), "
          "side named by p >= 0.5 right in {accuracy:.1%}".format(**quality))
    print("calibration on the odd games: predicted range, values, mean predicted, observed")
    for low, high, count, predicted, observed in calibration(test, bias, scale):
        print(f"  {low:.1f}-{high:.1f}  {count:6d}  {predicted:.3f}  {observed:.3f}")
    if args.bootstrap:
        bias_range, scale_range, term_range = bootstrap(samples, args.bootstrap)
        print(f"{args.bootstrap} resamples of the games, 95 % intervals: bias {bias_range[0]:.4f} .. "
              f"{bias_range[1]:.4f}, scale {scale_range[0]:.6f} .. {scale_range[1]:.6f}")
        if term_range:
            b, sc, t = fit_first_move(samples)
            print(f"with a first-move term (+t black to move, -t white): bias {b:.4f}, scale {sc:.6f}, "
                  f"t {t:.4f}, 95 % interval of t {term_range[0]:.4f} .. {term_range[1]:.4f}")
    bias, scale = fit(samples, not args.no_bias)
    print(f"fit on all games: bias {bias:.4f}, scale {scale:.6f}  "
          f"(src/search/winrate.cpp: WinrateBias, WinrateScale)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
