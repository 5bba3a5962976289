#!/usr/bin/env python3
"""Kills brains at random moments while they store into the experience file.

First during "db add" of batches of random games, then during play under the
referee (one match in the folder, one of its two brains killed each time).
After every kill the file is checked twice: as the kill left it, and after
the next store, which must succeed and leave "db check" sound. Last, imports
under a file-size limit a little above the file's size: the engine must
report the stores it cannot make and end normally.
"""

import argparse
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import time

from engine_protocol import Engine, EngineEnded, run_batch

HERE = os.path.dirname(os.path.abspath(__file__))


def run_engine(exe, folder, commands):
    return run_batch([exe], commands, cwd=folder, timeout=600).stdout


def write_game(path, rng):
    cells = []
    while len(cells) < rng.randint(8, 30):
        cell = (rng.randint(5, 14), rng.randint(5, 14))
        if cell not in cells:
            cells.append(cell)
    with open(path, "w") as record:
        record.write("Piskvork 20x20, 0:0, 0\n")
        for x, y in cells:
            record.write(f"{x},{y},0\n")


class Tally:
    def __init__(self, noun="kills"):
        self.noun = noun
        self.kills = 0
        self.left = {"sound": 0, "interrupted store pending": 0, "torn record": 0, "new orphans": 0,
                     "count faults": 0}
        self.next_store_ok = 0
        self.sound_after = 0
        self.failures = []

    def after_kill(self, exe, folder, rng, orphans_before):
        self.kills += 1
        left = run_engine(exe, folder, ["db check", "end"]).strip()
        orphans = int(re.search(r"(\d+) orphans", left).group(1)) if "orphans" in left else -1
        if left.endswith(": sound"):
            self.left["sound"] += 1
        if "interrupted store" in left:
            self.left["interrupted store pending"] += 1
        if "torn record" in left:
            self.left["torn record"] += 1
        if orphans > orphans_before:
            self.left["new orphans"] += 1
        if "holds counts" in left:
            self.left["count faults"] += 1
        if "fault" in left and "interrupted store" not in left:
            self.failures.append(f"kill {self.kills}: faults with no store to finish: {left}")
        write_game(os.path.join(folder, "next.psq"), rng)
        stored = run_engine(exe, folder, ["db add next.psq", "end"])
        if "Saved to DB." in stored:
            self.next_store_ok += 1
        else:
            self.failures.append(f"kill {self.kills}: the next store failed: {stored.strip()}")
        after = run_engine(exe, folder, ["db check", "end"]).strip()
        if after.endswith(": sound"):
            self.sound_after += 1
        else:
            self.failures.append(f"kill {self.kills}: not sound after the next store: {after}")
        found = re.search(r"(\d+) orphans", after)
        return int(found.group(1)) if found else orphans

    def report(self, name):
        print(f"{name}: {self.kills} {self.noun}; as left: " + ", ".join(f"{k} {v}" for k, v in self.left.items()) +
              f"; next store succeeded {self.next_store_ok}/{self.kills}; sound after it "
              f"{self.sound_after}/{self.kills}")
        for failure in self.failures[:10]:
            print("  " + failure)


def kill_imports(exe, folder, rng, kills):
    tally = Tally()
    batch = os.path.join(folder, "batch")
    orphans = 0
    for _ in range(kills):
        shutil.rmtree(batch, ignore_errors=True)
        os.makedirs(batch)
        for g in range(1200):
            write_game(os.path.join(batch, f"g{g:03d}.psq"), rng)
        engine = Engine([exe], cwd=folder)
        engine.send("db add batch", "end")
        # An import stores its games some hundreds at a time and reports each
        # lot when it is written: the kill falls among the later lots.
        try:
            engine.read_line()
        except EngineEnded:
            pass
        time.sleep(rng.uniform(0.0, 0.05))
        engine.kill()
        orphans = tally.after_kill(exe, folder, rng, orphans)
    return tally


def limit_imports(exe, folder, rng, rounds):
    tally = Tally("limited imports")
    batch = os.path.join(folder, "batch")
    path = os.path.join(folder, "tarvo", "experience.bin")
    orphans, exits, refused = 0, [], 0
    for _ in range(rounds):
        shutil.rmtree(batch, ignore_errors=True)
        os.makedirs(batch)
        for g in range(20):
            write_game(os.path.join(batch, f"g{g:03d}.psq"), rng)
        limit = os.path.getsize(path) + rng.randint(0, 3000)
        done = run_batch([exe], ["db add batch", "end"], cwd=folder,
                         preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit)))
        exits.append(done.returncode)
        refused += done.stdout.count("Saving to DB failed.")
        orphans = tally.after_kill(exe, folder, rng, orphans)
    return tally, exits, refused


def alive_brains(folder, exe):
    pids = []
    try:
        for line in open(os.path.join(folder, "brains.pid")):
            pid = int(line)
            try:
                if os.readlink(f"/proc/{pid}/exe") == os.path.realpath(exe):
                    pids.append(pid)
            except OSError:
                pass
    except FileNotFoundError:
        pass
    return pids


def kill_players(exe, folder, rng, kills, referee, timeout_turn):
    tally = Tally()
    brain = f"sh -c 'echo $$ >> brains.pid; exec {exe}'"
    log = open(os.path.join(folder, "referee.log"), "w")
    match = subprocess.Popen([sys.executable, referee, brain, "--games", "100000", "--opening-stones", "1-4",
                              "--timeout-turn", str(timeout_turn), "--print-boards", "none", "--grace", "2000"],
                             cwd=folder, stdout=log, stderr=subprocess.STDOUT)
    orphans = 0
    try:
        while tally.kills < kills:
            time.sleep(rng.uniform(0.05, 0.6))
            pids = alive_brains(folder, exe)
            if not pids:
                continue
            os.kill(rng.choice(pids), signal.SIGKILL)
            orphans = tally.after_kill(exe, folder, rng, orphans)
    finally:
        match.send_signal(signal.SIGKILL)
        match.wait()
        for pid in alive_brains(folder, exe):
            os.kill(pid, signal.SIGKILL)
        log.close()
    games = sum(1 for line in open(os.path.join(folder, "referee.log")) if line.startswith("game "))
    return tally, games


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", default=os.path.join(HERE, "..", "build", "pbrain-tarvo"))
    parser.add_argument("--referee", default=os.path.join(HERE, "referee.py"))
    parser.add_argument("--kills-add", type=int, default=30)
    parser.add_argument("--kills-play", type=int, default=30)
    parser.add_argument("--limits", type=int, default=10, help="imports under a file-size limit")
    parser.add_argument("--timeout-turn", type=int, default=20, help="short: stores are a larger share of a game")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--folder", default="/tmp/tarvo_kill_stores")
    args = parser.parse_args()
    exe = os.path.realpath(args.exe)
    rng = random.Random(args.seed)

    shutil.rmtree(args.folder, ignore_errors=True)
    os.makedirs(args.folder)
    run_engine(exe, args.folder, ["db create", "end"])
    imports = kill_imports(exe, args.folder, rng, args.kills_add)
    imports.report("db add")
    players, games = kill_players(exe, args.folder, rng, args.kills_play, args.referee, args.timeout_turn)
    players.report(f"play ({games} games)")
    limited, exits, refused = limit_imports(exe, args.folder, rng, args.limits)
    limited.report(f"file-size limit ({refused} stores refused, exit statuses {sorted(set(exits))})")
    print(run_engine(exe, args.folder, ["db check", "end"]).strip())
    ok = not imports.failures and not players.failures and not limited.failures and set(exits) == {0}
    print("OK" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
