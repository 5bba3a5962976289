#!/usr/bin/env python3
"""Runs the brain inside the real Yixin-Board GUI through the Yixin-Board test kit's
scenarios (play, nbest, swap2, balance, defend, stop) and fails unless the kit's summary
shows, for every scenario, each request the GUI waits on answered in time, no ERROR line
and no move line that arrives with no request pending (the GUI would play it).

The kit (run-session.sh with the GUI's source, beside this project in
../shared/clients/yixin-board, or named with --kit or YIXIN_BOARD_KIT) installs its Debian
packages when they are missing, builds the GUI, runs it on a virtual X server, drives it
with xdotool and keeps screenshots and the protocol log in the output folder. A scenario
whose requests never reached the brain (the GUI on a loaded machine sometimes loses a
typed command, or shows its own time-out before the first click) is run once more on its
own (play with a longer turn) before it counts as a failure.
"""

import argparse
import os
import re
import subprocess
import sys

SCENARIOS = ["play", "nbest", "swap2", "balance", "defend", "stop"]
# What each scenario must see answered for it to have tried the brain at all.
EXERCISED = {
    "play": [r"(board \.\.\. done \(think\)|turn \S+) +-> answered"],
    "nbest": [r"yxnbest \d+ +-> answered"],
    "swap2": [r"yxswap2step1 +-> answered"],
    "balance": [r"yxbalanceone -?\d+ +-> answered", r"yxbalancetwo -?\d+ +-> answered"],
    "defend": [r"yxsearchdefend +-> answered"],
    "stop": [r"board \.\.\. done \(think\) +-> answered"],
}
FAULTS = ["NO ANSWER", "[SLOW", "LEFT WAITING", "UNSOLICITED"]
# The GUI runs its own clock for the human from its start: on a loaded machine
# the kit's 5 s may be gone before its first click, and the GUI then shows
# "Time out!" instead of asking the brain. A retry of play gives both sides
# this long (its replies take milliseconds; the other scenarios keep 5 s, the
# time their searches fill).
RETRY_TURN_S = 15


def sections(summary):
    """The summary's lines by scenario."""
    found, name = {}, None
    for line in summary.splitlines():
        m = re.match(r"== scenario (\S+)", line)
        if m:
            name = m.group(1)
            found[name] = []
        elif line.startswith("== total"):
            name = None
        elif name:
            found[name].append(line)
    return found


def judge(name, lines):
    """(faults, exercised): what the brain did wrong, and whether the scenario reached it."""
    faults = [l.strip() for l in lines if any(f in l for f in FAULTS)]
    if not any(l.strip() == "ERROR lines: none" for l in lines):
        faults.append("ERROR lines: " + "; ".join(l.strip() for l in lines if re.match(r"\s+[0-9:.]+ ERROR", l)))
    exercised = all(any(re.search(p, l) for l in lines) for p in EXERCISED[name])
    return faults, exercised


def run_kit(kit, engine, out, scenarios, turn_s=None):
    os.makedirs(out, exist_ok=True)
    env = dict(os.environ)
    if turn_s:
        env["TURN_S"] = str(turn_s)
    with open(os.path.join(out, "kit.log"), "w") as log:
        subprocess.run([os.path.join(kit, "run-session.sh"), engine, out, ",".join(scenarios)],
                       stdout=log, stderr=subprocess.STDOUT, check=False, env=env)
    path = os.path.join(out, "summary.txt")
    return sections(open(path).read()) if os.path.exists(path) else {}


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--engine", default=os.path.join(root, "build", "pbrain-tarvo"))
    parser.add_argument("--out", default=os.path.join(root, "build", "yixin-board"),
                        help="folder for the kit's log, summary and screenshots")
    parser.add_argument("--kit", default=os.environ.get("YIXIN_BOARD_KIT",
                                                        os.path.join(root, "..", "shared", "clients", "yixin-board")))
    parser.add_argument("--scenarios", default=",".join(SCENARIOS))
    args = parser.parse_args(argv)
    if not os.access(os.path.join(args.kit, "run-session.sh"), os.X_OK):
        print(f"no Yixin-Board kit in {args.kit} (--kit or YIXIN_BOARD_KIT names it)", file=sys.stderr)
        return 2
    engine, out = os.path.abspath(args.engine), os.path.abspath(args.out)
    wanted = args.scenarios.split(",")
    found = run_kit(args.kit, engine, out, wanted)
    failed = False
    for name in wanted:
        lines = found.get(name, [])
        faults, exercised = judge(name, lines)
        if not faults and not exercised:
            retry = os.path.join(out, "retry-" + name)
            print(f"{name}: the GUI never asked the brain; running it again in {retry}")
            turn_s = RETRY_TURN_S if name == "play" else None
            lines = run_kit(args.kit, engine, retry, [name], turn_s).get(name, [])
            faults, exercised = judge(name, lines)
        if faults or not exercised:
            failed = True
            print(f"{name}: FAILED")
            for fault in faults:
                print(f"  {fault}")
            if not exercised:
                print("  the scenario never reached the brain: " + "; ".join(EXERCISED[name]))
        else:
            answered = [l.strip() for l in lines if "-> answered" in l]
            print(f"{name}: ok ({len(answered)} requests answered, no ERROR line, no stray move)")
    print(f"summary, screenshots and log in {out}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
