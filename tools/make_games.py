#!/usr/bin/env python3
"""Writes game records for "db add": many games, grown like a real collection.

Real collections repeat their openings: most games follow an earlier game for
a while and then go their own way, and a few open anew. The games here do the
same, so that the tree they give has long sibling chains a few plies below the
root and a handful of new records per game further down. Moves stay near the
stones already played; the engine's judge ends each game where it is decided.

Games are numbered from 0 and made in order from the seed, so that
--first/--count write any slice of one collection (a million games can be
imported a hundred thousand at a time). Files go 1000 to a directory, .psq
and .rec in turn.
"""

import argparse
import os
import random
from array import array

SIZE = 20


def near_stones(rng, moves, taken, length):
    """Continues the game up to length moves, each near one of the last stones."""
    misses = 0
    while len(moves) < length and misses < 200:
        base = moves[-1 - rng.randrange(min(6, len(moves)))]
        x = base % SIZE + rng.randint(-2, 2)
        y = base // SIZE + rng.randint(-2, 2)
        cell = x + SIZE * y
        # Now and then a game runs to the edge, where the import cuts it.
        inside = 3 <= x <= 16 and 3 <= y <= 16
        if not (0 <= x < SIZE and 0 <= y < SIZE) or cell in taken or (not inside and rng.random() > 0.02):
            misses += 1
            continue
        moves.append(cell)
        taken.add(cell)


def fresh_opening(rng):
    """A first move at the centre and three more anywhere within six cells."""
    first = (9 + rng.randint(0, 1)) + SIZE * (9 + rng.randint(0, 1))
    moves, taken = [first], {first}
    while len(moves) < 4:
        cell = first + rng.randint(-6, 6) + SIZE * rng.randint(-6, 6)
        if cell not in taken:
            moves.append(cell)
            taken.add(cell)
    return moves, taken


def make_games(count, seed, fresh_share):
    rng = random.Random(seed)
    games = []
    for _ in range(count):
        if not games or rng.random() < fresh_share:
            moves, taken = fresh_opening(rng)
        else:
            # Earlier games are followed the more often the newer they are not:
            # a few popular lines and a long tail.
            parent = games[int(len(games) * rng.random() ** 3)]
            # Random play is decided within a dozen or two moves, so the
            # games part before that.
            keep = min(len(parent) - 1, 2 + int(rng.expovariate(1 / 10)))
            moves = list(parent[:keep])
            taken = set(moves)
        near_stones(rng, moves, taken, rng.randint(25, 60))
        games.append(array("H", moves))
    return games


def record_text(moves, psq):
    lines = ["Piskvork 20x20, 11:11, 0"] if psq else ["20", "generated generated"]
    lines += [f"{cell % SIZE},{cell // SIZE},{i}" for i, cell in enumerate(moves)]
    if psq:
        lines.append("-1")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("out", help="directory to write into (made if missing)")
    parser.add_argument("--count", type=int, default=1000, help="games to write")
    parser.add_argument("--first", type=int, default=0, help="number of the first game written")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--fresh", type=float, default=0.05, help="share of games with a new opening")
    args = parser.parse_args()
    games = make_games(args.first + args.count, args.seed, args.fresh)
    for number in range(args.first, args.first + args.count):
        folder = os.path.join(args.out, f"{number // 1000:04d}")
        if number % 1000 == 0 or number == args.first:
            os.makedirs(folder, exist_ok=True)
        psq = number % 2 == 0
        name = os.path.join(folder, f"game{number:07d}" + (".psq" if psq else ".rec"))
        with open(name, "w") as record:
            record.write(record_text(games[number], psq))


if __name__ == "__main__":
    main()
