#!/usr/bin/env python3
"""How the experience database's costs grow with the games it holds.

Grows one experience file through the given sizes (games imported from game
records that tools/make_games.py writes, 1000 to a directory), and at each
size measures: the time per game of the import that grew the file to that
size, the time to start the engine on the file (the link check at open), the
time per game of importing the next 1000 games on their own (into a copy, so
that the sizes stay exact), and the time of "db export" (whose node files are
deleted again at once). Prints one table row per size.

Times are seconds of processor time (user and system) of whole engine runs,
which a busy machine disturbs less than the clock; the start-up is
subtracted from the import and the export. --wall measures the clock instead.
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

from engine_protocol import run_batch

HERE = os.path.dirname(os.path.abspath(__file__))
PER_DIRECTORY = 1000


WALL = False


def cpu_seconds():
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def run(exe, folder, commands):
    started, cpu = time.monotonic(), cpu_seconds()
    done = run_batch([exe], commands + ["end"], cwd=folder)
    return (time.monotonic() - started if WALL else cpu_seconds() - cpu), done.stdout


def ensure_records(records, first, count, seed):
    """Writes the games first .. first + count - 1 unless they are there."""
    if all(os.path.isdir(os.path.join(records, f"{d:04d}"))
           for d in range(first // PER_DIRECTORY, (first + count) // PER_DIRECTORY)):
        return
    subprocess.run([sys.executable, os.path.join(HERE, "make_games.py"), records, "--first", str(first),
                    "--count", str(count), "--seed", str(seed)], check=True)


def import_range(exe, folder, records, first, end):
    """Processor seconds of importing games first .. end - 1 with one "db add", less the start-up."""
    lot = os.path.join(folder, "..", "lot")
    shutil.rmtree(lot, ignore_errors=True)
    os.makedirs(lot)
    for d in range(first // PER_DIRECTORY, end // PER_DIRECTORY):
        os.symlink(os.path.join(records, f"{d:04d}"), os.path.join(lot, f"{d:04d}"))
    seconds, out = run(exe, folder, [f"db add {os.path.realpath(lot)}"])
    shutil.rmtree(lot)
    return seconds - run(exe, folder, [])[0], out.count("byla uspesne pridana")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", default=os.path.join(HERE, "..", "build", "pbrain-tarvo"),
                        help="the build that is measured")
    parser.add_argument("--build-exe", help="the build that grows the file (default: --exe)")
    parser.add_argument("--sizes", default="1000,10000,100000,1000000")
    parser.add_argument("--records", default="/tmp/tarvo_db_costs/records",
                        help="game records by make_games.py (written when missing)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--folder", default="/tmp/tarvo_db_costs/work")
    parser.add_argument("--no-export", action="store_true")
    parser.add_argument("--wall", action="store_true", help="clock time instead of processor time")
    args = parser.parse_args()
    global WALL
    WALL = args.wall
    exe = os.path.realpath(args.exe)
    builder = os.path.realpath(args.build_exe or args.exe)
    records = os.path.realpath(args.records)
    sizes = [int(s) for s in args.sizes.split(",")]
    if any(s % PER_DIRECTORY for s in sizes):
        sys.exit("sizes must be multiples of 1000")

    grown = os.path.join(args.folder, "grown")
    trial = os.path.join(args.folder, "trial")
    shutil.rmtree(args.folder, ignore_errors=True)
    os.makedirs(grown)
    run(builder, grown, ["db create"])
    print("games | records | grown us/game | start-up s | next 1000 us/game | export s | node files MB")
    held = 0
    for size in sizes:
        ensure_records(records, held, size + PER_DIRECTORY - held, args.seed)
        seconds, stored = import_range(builder, grown, records, held, size)
        grow = seconds / max(1, stored) * 1e6
        held = size
        path = os.path.join(grown, "tarvo", "experience.bin")
        count = os.path.getsize(path) // 48
        startup = statistics.median(run(exe, grown, [])[0] for _ in range(3))

        shutil.rmtree(trial, ignore_errors=True)
        shutil.copytree(grown, trial)
        seconds, stored = import_range(exe, trial, records, size, size + PER_DIRECTORY)
        per_game = seconds / max(1, stored) * 1e6
        shutil.rmtree(trial)

        export, megabytes = float("nan"), float("nan")
        if not args.no_export:
            nodes = os.path.join(grown, "tarvo", "nodes")
            os.makedirs(nodes)
            seconds, _ = run(exe, grown, ["db export"])
            export = seconds - startup
            megabytes = sum(os.path.getsize(os.path.join(nodes, n)) for n in os.listdir(nodes)) / 1e6
            shutil.rmtree(nodes)
        print(f"{size} | {count} | {grow:.0f} | {startup:.3f} | {per_game:.0f} | {export:.2f} | {megabytes:.0f}",
              flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
