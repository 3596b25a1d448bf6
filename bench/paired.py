"""Paired timing: the commands take turns, round after round, so that a
machine that slows down or speeds up midway weighs on all of them alike.

Usage: paired.py ROUNDS [--prepare SHELLCMD] NAME=CMD...
Each CMD runs as sh -c 'exec CMD', which costs every command the same
small start-up; SHELLCMD, if given, runs through sh, untimed, before every
timed run.  Prints one line per command: NAME, then its median wall and
median CPU (user + system) seconds.
"""
import os
import statistics
import subprocess
import sys
import time


def run(argv):
    t = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ)
    _, status, ru = os.wait4(pid, 0)
    wall = time.perf_counter() - t
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: " + " ".join(argv))
    return wall, ru.ru_utime + ru.ru_stime


args = sys.argv[1:]
rounds = int(args.pop(0))
prep = None
if args[0] == "--prepare":
    prep = args[1]
    args = args[2:]
cmds = [(n, ["sh", "-c", "exec " + c]) for n, c in (a.split("=", 1) for a in args)]
res = {n: ([], []) for n, _ in cmds}
for k in range(rounds + 1):
    for n, c in cmds:
        if prep:
            subprocess.run(prep, shell=True, check=True)
        w, u = run(c)
        if k > 0:  # the first round only warms up
            res[n][0].append(w)
            res[n][1].append(u)
for n, _ in cmds:
    print(n, f"{statistics.median(res[n][0]):.6f}", f"{statistics.median(res[n][1]):.6f}")
