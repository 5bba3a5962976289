#!/usr/bin/env python3
"""A minimal Gomocup brain for testing the referee.

It plays a random empty cell next to the stones; with --mode it breaks one rule
on its --at'th reply of every game: occupied (a cell with a stone), offboard,
garbage, late (sleeps --sleep ms first), crash (exits), error (an ERROR line
before the move), or messages (MESSAGE and DEBUG lines before every move).
"""

import argparse
import random
import sys
import time

SIZE = 20


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", default="good")
    parser.add_argument("--at", type=int, default=3)
    parser.add_argument("--sleep", type=int, default=500)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    board = {}
    replies = 0

    def out(line):
        sys.stdout.write(line + "\n")
        sys.stdout.flush()

    def reply():
        nonlocal replies
        replies += 1
        misbehave = replies == args.at
        if args.mode == "messages":
            out("MESSAGE thinking")
            out("DEBUG picture")
        if misbehave and args.mode == "crash":
            sys.exit(3)
        if misbehave and args.mode == "late":
            time.sleep(args.sleep / 1000.0)
        if misbehave and args.mode == "error":
            out("ERROR something went wrong")
        if misbehave and args.mode == "occupied" and board:
            x, y = next(iter(board))
            out(f"{x},{y}")
            return
        if misbehave and args.mode == "offboard":
            out("20,5")
            return
        if misbehave and args.mode == "garbage":
            out("hello")
            return
        near = set()
        for (x, y) in board:
            for dx in (-1, 0, 1):
                for dy in (-1, 0, 1):
                    c = (x + dx, y + dy)
                    if 0 <= c[0] < SIZE and 0 <= c[1] < SIZE and c not in board:
                        near.add(c)
        if not near:
            near = {(x, y) for x in range(SIZE) for y in range(SIZE) if (x, y) not in board}
        move = rng.choice(sorted(near)) if near else (10, 10)
        board[move] = 1
        out(f"{move[0]},{move[1]}")

    in_board = False
    for raw in sys.stdin:
        line = raw.strip()
        if not line:
            continue
        if in_board:
            if line.upper() == "DONE":
                in_board = False
                reply()
            else:
                x, y, field = (int(v) for v in line.split(","))
                board[(x, y)] = field
            continue
        word, _, rest = line.partition(" ")
        word = word.upper()
        if word == "START":
            board.clear()
            replies = 0
            out("OK")
        elif word == "BEGIN":
            reply()
        elif word == "TURN":
            x, y = (int(v) for v in rest.split(","))
            board[(x, y)] = 2
            reply()
        elif word == "BOARD":
            board.clear()
            in_board = True
        elif word == "END":
            return 0
        elif word == "INFO":
            pass
        else:
            out("ERROR unknown command")
    return 0


if __name__ == "__main__":
    sys.exit(main())
