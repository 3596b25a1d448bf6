"""Paired CPU-time runs.

Usage: cputime.py RUNS [--fresh PATH] CMD...   (each CMD one string, split on spaces)
Runs the commands in turn, RUNS rounds, and prints the median user+system
seconds of each.  With --fresh, PATH is removed before every run.
"""
import os
import statistics
import sys


def cpu(argv, fresh):
    if fresh:
        try:
            os.unlink(fresh)
        except FileNotFoundError:
            pass
    pid = os.fork()
    if pid == 0:
        os.execvp(argv[0], argv)
    _, status, ru = os.wait4(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: " + " ".join(argv))
    return ru.ru_utime + ru.ru_stime


args = sys.argv[1:]
runs = int(args.pop(0))
fresh = None
if args[0] == "--fresh":
    fresh = args[1]
    args = args[2:]
cmds = [c.split() for c in args]
for c in cmds:
    cpu(c, fresh)
samples = [[] for _ in cmds]
for _ in range(runs):
    for s, c in zip(samples, cmds):
        s.append(cpu(c, fresh))
print(" ".join(f"{statistics.median(s):.6f}" for s in samples))
