#!/usr/bin/env python3
"""Builds a position set from recorded games: the middle-game positions on
which an engine build actually searches for "best", each with the search line
(value|score|nodes) and move that this build gives, in the format that
compare_positions.py and "pbrain-tarvo bench FILE" read.

Usage: pick_positions.py EXE GAMES_DIR [--stones 20-45] [--every 4] [--out FILE]

GAMES_DIR holds .psq games as the referee's --record writes them (a header
line, then x,y,time lines with coordinates from 0). From each game the
positions after 20, 24, 28, ... stones are tried (--stones, --every); a
position is kept when the engine answers it with a search of at least
--min-nodes nodes rather than with a fast reply or a single forced move;
positions with the same stones as one tried before are skipped.
"""

import argparse
import glob
import os
import re
import sys

from compare_positions import Brain, Position


def read_game(path):
    moves = []
    with open(path) as file:
        for line in file:
            match = re.fullmatch(r"(\d+),(\d+),-?\d+", line.strip())
            if match:
                moves.append((int(match.group(1)), int(match.group(2))))
    return moves


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("exe")
    parser.add_argument("games_dir")
    parser.add_argument("--stones", default="20-45", help="MIN-MAX stones of a kept position")
    parser.add_argument("--every", type=int, default=4, help="stone-count step between tried positions")
    parser.add_argument("--min-nodes", type=int, default=1000,
                        help="least nodes of a kept search (smaller ones are found at once)")
    parser.add_argument("--out", help="file to write (default: standard output)")
    args = parser.parse_args()
    low, high = (int(n) for n in args.stones.split("-"))

    brain = Brain(args.exe)
    kept = []
    seen = set()  # games repeat: the same stones of each colour count once
    try:
        for path in sorted(glob.glob(os.path.join(args.games_dir, "*.psq"))):
            moves = read_game(path)
            # The last position of a game is decided; positions before it are not.
            for stones in range(low, min(high, len(moves) - 1) + 1, args.every):
                stone_sets = (frozenset(moves[:stones:2]), frozenset(moves[1:stones:2]))
                if stone_sets in seen:
                    continue
                seen.add(stone_sets)
                line, move, seconds = brain.best(moves[:stones])
                if not line:
                    status = "no search"
                elif int(line.split("|")[2]) < args.min_nodes:
                    status, line = "too small a search", None
                else:
                    status = "kept"
                print(f"{os.path.basename(path)} {stones} stones: {line} {move} {seconds * 1000:.0f} ms, {status}",
                      file=sys.stderr, flush=True)
                if line:
                    kept.append(Position(moves[:stones], line, move))
    finally:
        brain.close()

    header = ("# Middle-game positions from referee games: the moves from the first stone on as x,y,\n"
              "# then after '=' the depth-7 search line value|score|nodes and move of \"best\".\n")
    text = header + "".join(position.text() + "\n" for position in kept)
    if args.out:
        with open(args.out, "w") as file:
            file.write(text)
    else:
        sys.stdout.write(text)
    print(f"{len(kept)} positions kept", file=sys.stderr)


if __name__ == "__main__":
    main()
