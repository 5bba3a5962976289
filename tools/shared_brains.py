#!/usr/bin/env python3
"""Several brains learning into one experience file, as managers run them.

Starts N/2 referee matches at once in one folder (two brains each, all on the
folder's tarvo/experience.bin), with random openings and every game recorded.
Afterwards the shared file must be sound ("db check") and must hold exactly
the tree that one process builds by importing the recorded games that ended
with a five: no game lost, none stored twice, no node under two parents.
With --info-folder the brains run in a folder without tarvo/ and are given the
file's folder by INFO folder, as Piskvork and the Gomocup judge do: the first
of them makes the file.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import time

from engine_protocol import run_batch

HERE = os.path.dirname(os.path.abspath(__file__))
RECORD = 48


def run_engine(exe, folder, commands):
    return run_batch([exe], commands, cwd=folder, timeout=600).stdout


def tree_paths(path):
    """Every node of the experience file as the moves leading to it."""
    data = open(path, "rb").read()
    records = [struct.unpack_from("<hxxiii", data, at) for at in range(0, len(data) - RECORD + 1, RECORD)]
    paths, stack = set(), [(0, ())]
    while stack:
        offset, moves = stack.pop()
        paths.add(moves)
        child = records[offset // RECORD][2]
        while child != -1:
            move, sibling = records[child // RECORD][0], records[child // RECORD][1]
            stack.append((child, moves + (move,)))
            child = sibling
    return paths


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", default=os.path.join(HERE, "..", "build", "pbrain-tarvo"))
    parser.add_argument("--referee", default=os.path.join(HERE, "referee.py"))
    parser.add_argument("--brains", type=int, default=4, help="even; two per match")
    parser.add_argument("--games", type=int, default=200, help="in all")
    parser.add_argument("--timeout-turn", type=int, default=300)
    parser.add_argument("--folder", default="/tmp/tarvo_shared_brains")
    parser.add_argument("--info-folder", action="store_true",
                        help="the file lies in the folder the managers name with INFO folder")
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    matches = max(1, args.brains // 2)

    shutil.rmtree(args.folder, ignore_errors=True)
    os.makedirs(args.folder)
    work, data, info = args.folder, args.folder, []
    if args.info_folder:
        work = os.path.join(args.folder, "work")
        permanent = os.path.abspath(os.path.join(args.folder, "permanent"))  # sent to brains elsewhere
        data = os.path.join(permanent, "pbrain-tarvo")
        info = ["--info-folder", permanent]
        os.makedirs(work)
        os.makedirs(permanent)
    else:
        run_engine(exe, args.folder, ["db create", "end"])
    started = time.monotonic()
    referees = []
    for m in range(matches):
        games = args.games // matches + (1 if m < args.games % matches else 0)
        log = open(os.path.join(args.folder, f"match{m}.log"), "w")
        traffic = open(os.path.join(args.folder, f"traffic{m}.log"), "w")
        referees.append((subprocess.Popen(
            [sys.executable, args.referee, exe, "--games", str(games), "--seed", str(100 + m),
             "--opening-stones", "1-4", "--timeout-turn", str(args.timeout_turn), "--print-boards", "none",
             "--record", f"records{m}", "--verbose"] + info,
            cwd=work, stdout=log, stderr=traffic), log, traffic))
    failed_referees = 0
    for process, log, traffic in referees:
        failed_referees += process.wait() != 0
        log.close()
        traffic.close()
    seconds = time.monotonic() - started

    played, fives = 0, 0
    alone = os.path.join(args.folder, "alone")
    os.makedirs(os.path.join(alone, "games"))
    faults = {}
    for m in range(matches):
        for line in open(os.path.join(args.folder, f"match{m}.log")):
            found = re.match(r"game (\d+): .*\((.*)\)$", line)
            if found:
                played += 1
                if "made five" in found.group(2):
                    fives += 1
                    name = f"game{int(found.group(1)):04d}.psq"
                    shutil.copy(os.path.join(work, f"records{m}", name),
                                os.path.join(alone, "games", f"m{m}_{name}"))
            for kind in ("illegal moves", "crashes", "late replies", "protocol errors"):
                for count in re.findall(kind + r" (\d+)", line):
                    faults[kind] = faults.get(kind, 0) + int(count)
    said = {"Saved to DB.": 0, "Learning skipped": 0, "Saving to DB failed.": 0, "Chyba": 0, "damaged": 0}
    for m in range(matches):
        for line in open(os.path.join(args.folder, f"traffic{m}.log")):
            for key in said:
                if key in line:
                    said[key] += 1

    check = run_engine(exe, data, ["db check", "end"]).strip()
    imported = run_engine(exe, alone, ["db create", "db add games", "end"])
    stored_alone = imported.count("Saved to DB.")
    shared_paths = tree_paths(os.path.join(data, "tarvo", "experience.bin"))
    alone_paths = tree_paths(os.path.join(alone, "tarvo", "experience.bin"))
    same = shared_paths == alone_paths

    print(f"{args.brains} brains in {matches} matches, one folder, {seconds:.0f} s")
    print(f"games played {played}, ended with a five {fives}, referee faults {faults}, "
          f"referees failing {failed_referees}")
    print("brain lines: " + ", ".join(f"{k!r} {v}" for k, v in said.items()))
    print(check)
    print(f"one-process import of the {fives} recorded games: {stored_alone} stored, "
          f"{imported.count('Saving to DB failed.')} refused")
    print(f"shared tree: {len(shared_paths)} nodes; one-process tree: {len(alone_paths)} nodes; "
          f"identical: {same}; missing from the shared file: {len(alone_paths - shared_paths)}, "
          f"extra: {len(shared_paths - alone_paths)}")
    # Referee faults (a late search reply on a loaded machine) are shown above
    # but judge the brains' play, not the file.
    # Nothing but the referees' records may appear where the brains run.
    strays = sorted(set(os.listdir(work)) - {f"records{m}" for m in range(matches)} -
                    {f"match{m}.log" for m in range(matches)} - {f"traffic{m}.log" for m in range(matches)} -
                    ({"alone", "permanent", "work", "tarvo"} if work == args.folder else set()))
    if strays:
        print(f"written where the brains run: {strays}")
    ok = check.endswith(": sound") and same and not strays
    print("OK" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
