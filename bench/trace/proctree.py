#!/usr/bin/env python3
"""Processor time of a command's whole process tree, by kind of process.

  python3 bench/trace/proctree.py -- COMMAND ARGS...     (prints one JSON line to stderr at the end)

Used by bench/batch/side_by_side.py --trace. Every 25 ms every descendant's /proc/PID/stat is read and
sorted by its Chromium role (the --type= flag: renderer, gpu-process, utility with the network
service apart, zygote; no flag: the browser itself); the command's own process is "program". Each
process counts as its last sample showed it, so each misses at most its last 25 ms. (wait4's rusage
cannot give the total: a browser whose parent exits without waiting for it is reaped by init.)
"""
import json
import os
import subprocess
import sys
import threading
import time

TICK_MS = 1000.0 / os.sysconf("SC_CLK_TCK")


def read_stat(pid):
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            data = f.read().decode("latin-1")
    except OSError:
        return None
    fields = data[data.rindex(")") + 2:].split()
    # fields[0] is the state (stat field 3); ppid is field 4, utime..cstime fields 14 to 17.
    return int(fields[1]), int(fields[11]) + int(fields[12]), int(fields[13]) + int(fields[14])


def role(pid, top):
    if pid == top:
        return "program"
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            # Chromium rewrites the children's titles into one space-separated string.
            args = f.read().decode("latin-1").replace("\0", " ").split()
    except OSError:
        return None
    if not args:
        return None  # a zombie: it keeps the role it had
    kind = next((a[len("--type="):] for a in args if a.startswith("--type=")), None)
    if kind is None:
        return "browser" if "chrom" in os.path.basename(args[0]) else "other"
    if kind == "utility":
        return "network" if any("NetworkService" in a for a in args) else "utility"
    if kind == "gpu-process":
        return "gpu"
    return kind


class TreeSampler:
    def __init__(self, top):
        self.top = top
        self.procs = {}  # pid -> {"role", "own"}
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.loop, daemon=True)

    def sample(self):
        stats = {}
        for name in os.listdir("/proc"):
            if name.isdigit():
                stat = read_stat(int(name))
                if stat:
                    stats[int(name)] = stat
        tree = {self.top}
        grew = True
        while grew:
            grew = False
            for pid, (ppid, _, _) in stats.items():
                if ppid in tree and pid not in tree:
                    tree.add(pid)
                    grew = True
        for pid in tree:
            if pid not in stats:
                continue
            _, own, _ = stats[pid]
            # Asked again each time: a child reads as its parent until it has exec'd, and a zygote's
            # child as a zygote until it has named itself.
            kind = role(pid, self.top)
            if kind is None and pid not in self.procs:
                continue
            info = self.procs.setdefault(pid, {"own": 0})
            info["role"] = kind or info["role"]
            info["own"] = max(own, info["own"])

    def loop(self):
        while not self.stop.is_set():
            self.sample()
            self.stop.wait(0.025)

    def start(self):
        self.thread.start()

    def finish(self):
        self.stop.set()
        self.thread.join()

    def by_role(self):
        """CPU ms by role, each process at its last sample."""
        totals = {}
        for info in self.procs.values():
            totals[info["role"]] = totals.get(info["role"], 0.0) + info["own"] * TICK_MS
        return totals


def run(cmd, **popen_args):
    """Runs cmd, sampling its tree; returns (returncode, stdout, stderr, cpu) with cpu a dict of ms."""
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **popen_args)
    sampler = TreeSampler(proc.pid)
    sampler.start()
    out, err = [], []
    readers = [threading.Thread(target=lambda s, b: b.append(s.read()), args=(stream, buf), daemon=True)
               for stream, buf in ((proc.stdout, out), (proc.stderr, err))]
    for r in readers:
        r.start()
    _, status, _ = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    sampler.finish()
    for r in readers:
        r.join()
    cpu = {k: round(v, 1) for k, v in sampler.by_role().items()}
    cpu["total"] = round(sum(cpu.values()), 1)
    cpu["processes"] = len(sampler.procs)
    return proc.returncode, "".join(out), "".join(err), cpu


if __name__ == "__main__":
    args = sys.argv[1:]
    if args[:1] == ["--"]:
        args = args[1:]
    code, out, err, cpu = run(args)
    sys.stdout.write(out)
    sys.stderr.write(err)
    sys.stderr.write(json.dumps(cpu) + "\n")
    sys.exit(code)
