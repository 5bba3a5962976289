#!/usr/bin/env python3
"""Measures what the experience database is worth in games won.

The learning brain plays a fixed opponent under the project's referee: the same
openings, each with both colours, in several passes, at a slow and at a fast
time per move, once without an experience file and once with one. With the
file, each speed starts from an empty file (with --fast-continues, the fast
passes go on with the file learned in the slow ones). The opponent never learns: it runs from a
folder of its own without tarvo/. Learning must show pass by pass: with the
same openings every pass after the first should win more than the first; with
openings that change from pass to pass (--vary-openings) the file should cost
nothing. Every reply's time is logged, and the host
can be loaded beside the matches as a tournament host is (busy processes and a
disk writer, not niced).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

from engine_protocol import run_batch

HERE = os.path.dirname(os.path.abspath(__file__))

CPU_LOAD = "while True: pass"
# Writes and syncs a file over and over: the page cache fills with dirty pages
# and the disk stays busy, as beside other engines writing their files and logs.
DISK_LOAD = """
import os, sys
path, megabytes = sys.argv[1], int(sys.argv[2])
block = os.urandom(1 << 20)
while True:
    with open(path, "wb") as f:
        for i in range(megabytes):
            f.write(block)
            if i % 64 == 63:
                f.flush()
                os.fsync(f.fileno())
    os.remove(path)
"""


def prepare_brain(folder, exe, with_file):
    os.makedirs(folder)
    brain = os.path.join(folder, os.path.basename(exe))
    shutil.copy2(exe, brain)
    if with_file:
        # The brain finds tarvo/ beside itself, the referee's folder having none.
        done = run_batch([brain], ["db create", "end"], cwd=folder, timeout=60)
        if "Done" not in done.stdout:
            sys.exit(f"db create failed in {folder}: {done.stdout}{done.stderr}")
    return brain


def run_pass(args, learner, opponent, turn_ms, log, number):
    seed = args.seed + (number - 1 if args.vary_openings else 0)
    command = [sys.executable, args.referee, learner, opponent, "--paired",
               "--games", str(2 * args.openings), "--seed", str(seed),
               "--opening-stones", args.stones, "--timeout-turn", str(turn_ms),
               "--grace", str(args.grace), "--print-boards", "none", "--reply-log", log]
    if args.opponent_ms:
        command += ["--timeout-turn-b", str(args.opponent_ms)]
    if args.record:
        command += ["--record", os.path.join(os.path.abspath(args.record), f"{os.path.basename(log)[8:-4]}-pass{number}")]
    if args.brain_stderr:
        command += ["--brain-stderr", os.path.abspath(args.brain_stderr)]
    done = subprocess.run(command, cwd=args.folder, capture_output=True, text=True)
    result = re.search(r"result: (\d+) games, A (\d+) wins, B (\d+) wins, (\d+) draws", done.stdout)
    if not result:
        sys.exit(f"the referee printed no result:\n{done.stdout}{done.stderr}")
    games, wins, _, draws = (int(v) for v in result.groups())
    # The referee's own lines for every forfeit and protocol error.
    faults = [line for line in done.stdout.splitlines()
              if re.match(r"(late|illegal|crashes|protocol error)", line)]
    return {"games": games, "wins": wins, "draws": draws, "faults": faults}


def reply_times(log, brain="A"):
    times, late = [], 0
    if not os.path.exists(log):
        return times, late
    for line in open(log):
        m = re.match(r"game \d+ move \d+ brain (\w) (\w+) ([\d.]+) ms limit (\d+)", line)
        if m and m.group(1) == brain:
            ms, limit = float(m.group(3)), int(m.group(4))
            times.append(ms)
            if limit > 0 and ms > limit:
                late += 1
    return times, late


def percentile(values, share):
    if not values:
        return 0.0
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def start_load(args):
    load = []
    for _ in range(args.load_cpu):
        load.append(subprocess.Popen([sys.executable, "-c", CPU_LOAD]))
    if args.load_disk > 0:
        target = os.path.join(args.folder, "disk-load.bin")
        load.append(subprocess.Popen([sys.executable, "-c", DISK_LOAD, target, str(args.load_disk)]))
    return load


def stop_load(load):
    for process in load:
        process.kill()
        process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", default=os.path.join(HERE, "..", "build", "pbrain-tarvo"),
                        help="the learning brain")
    parser.add_argument("--opponent", help="the opponent's executable (default: the learning brain's)")
    parser.add_argument("--referee", default=os.path.join(HERE, "referee.py"))
    parser.add_argument("--openings", type=int, default=50, help="each played with both colours")
    parser.add_argument("--passes", type=int, default=4)
    parser.add_argument("--vary-openings", action="store_true",
                        help="new openings in every pass (the seed goes up by one a pass)")
    parser.add_argument("--stones", default="3", help="stones of the random openings, N or MIN-MAX")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--slow", type=int, default=3000, help="ms a move")
    parser.add_argument("--fast", type=int, default=300, help="ms a move (0: no fast passes)")
    parser.add_argument("--opponent-level", type=int, metavar="DEPTH",
                        help="the opponent plays at this --max-depth (default: none, the tournament play)")
    parser.add_argument("--opponent-ms", type=int,
                        help="the opponent's fixed ms a move (default: the learning brain's)")
    parser.add_argument("--modes", default="without,with", help="without and/or with the experience file")
    parser.add_argument("--grace", type=int, default=3000)
    parser.add_argument("--load-cpu", type=int, default=0, help="busy processes beside the matches")
    parser.add_argument("--load-disk", type=int, default=0,
                        help="MB that a disk writer writes and syncs over and over beside the matches")
    parser.add_argument("--brain-stderr", help="file for the brains' stderr (default: discarded)")
    parser.add_argument("--folder", default="/tmp/tarvo_learning")
    parser.add_argument("--fast-continues", action="store_true",
                        help="the fast passes go on with the file learned in the slow ones "
                             "(default: each speed learns from an empty file)")
    parser.add_argument("--record", help="write every pass's games under DIR/<mode>-<speed>-passN/")
    args = parser.parse_args()
    args.referee = os.path.abspath(args.referee)
    exe = os.path.abspath(args.exe)
    opponent_exe = os.path.abspath(args.opponent) if args.opponent else exe

    shutil.rmtree(args.folder, ignore_errors=True)
    os.makedirs(args.folder)
    opponent = prepare_brain(os.path.join(args.folder, "opponent"), opponent_exe, False)
    if args.opponent_level:
        opponent += f" --max-depth {args.opponent_level}"
    modes = [m for m in args.modes.split(",") if m]
    brains = {m: prepare_brain(os.path.join(args.folder, "learner-" + m), exe, m == "with") for m in modes}
    if "with" in brains and not args.fast_continues and args.slow > 0 and args.fast > 0:
        # The fast passes learn from an empty file of their own.
        brains["with-fast"] = prepare_brain(os.path.join(args.folder, "learner-with-fast"), exe, True)

    rows = []
    load = start_load(args)
    try:
        for mode in modes:
            for label, turn_ms in (("slow", args.slow), ("fast", args.fast)):
                if turn_ms <= 0:
                    continue
                log = os.path.join(args.folder, f"replies-{mode}-{label}.log")
                passes = []
                for number in range(1, args.passes + 1):
                    started = time.monotonic()
                    brain = brains.get(f"{mode}-{label}", brains[mode])
                    result = run_pass(args, brain, opponent, turn_ms, log, number)
                    passes.append(result)
                    for line in result["faults"]:
                        print(f"  {mode} {turn_ms} ms pass {number}: {line}")
                    print(f"{mode} file, {turn_ms} ms a move, pass {number}: {result['wins']} of "
                          f"{result['games']} won, {result['draws']} drawn "
                          f"({time.monotonic() - started:.0f} s)", flush=True)
                times, late = reply_times(log)
                rows.append((turn_ms, mode, passes, times, late, reply_times(log, "B")[1]))
    finally:
        stop_load(load)

    print()
    level = f" at --max-depth {args.opponent_level}" if args.opponent_level else ""
    print(f"The learning brain (A) against {opponent_exe}{level} without a file, at "
          f"{str(args.opponent_ms) + ' ms' if args.opponent_ms else 'the same time'} a move; "
          f"{args.openings} openings of {args.stones} stones, each with both colours, in each pass"
          f"{', new openings every pass' if args.vary_openings else ', the same openings every pass'}.")
    print("| ms a move | experience file | " + " | ".join(f"pass {n}" for n in range(1, args.passes + 1)) +
          " | all | late replies | replies | 99th percentile | worst reply | opponent's late replies |")
    print("|---" * (args.passes + 8) + "|")
    for turn_ms, mode, passes, times, late, opponent_late in rows:
        games = sum(p["games"] for p in passes)
        wins = sum(p["wins"] for p in passes)
        learned = (" (learned at %d ms first)" % args.slow
                   if mode == "with" and turn_ms == args.fast and args.fast_continues else "")
        cells = [f"{p['wins']}/{p['games']}" for p in passes]
        print(f"| {turn_ms} | {mode}{learned} | " + " | ".join(cells) +
              f" | {wins}/{games} | {late} | {len(times)} | {percentile(times, 0.99):.0f} ms | "
              f"{max(times) if times else 0:.0f} ms | {opponent_late} |")
    for turn_ms, mode, passes, _, _, _ in rows:
        if len(passes) < 2:
            continue
        first = passes[0]["wins"]
        later = [p["wins"] for p in passes[1:]]
        beaten = all(w > first for w in later)
        print(f"{turn_ms} ms, {mode} file: later passes {' '.join(f'{w - first:+d}' for w in later)} "
              f"against the first: {'each wins more' if beaten else 'not each better'}")
    if "with" in brains:
        for name in ("with", "with-fast"):
            if name in brains:
                check = run_batch([brains[name]], ["db check", "end"], cwd=os.path.dirname(brains[name]), timeout=600)
                print(check.stdout.strip())
    print(f"reply logs and brains in {args.folder}")
    return 1 if any(row[4] for row in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
