#!/usr/bin/env python3
"""Run one peer once under /usr/bin/time -v and sample the memory of its whole process tree.

  python3 measure.py --label A-c4-r1 --results runs.jsonl -- node node/capture.js ... 

This process makes itself a child subreaper (prctl PR_SET_CHILD_SUBREAPER), so browser
processes whose parent dies are re-parented here instead of to init, and are still counted.
Every --interval seconds it walks /proc and sums, over all descendants: RSS, PSS (from
smaps_rollup; shared pages split between processes), the process count, the chromium
process count and zombies. Orphans re-parented here are reaped at once and counted.
After the peer exits, descendants still alive are reported as leftovers, then ended by pid
(SIGTERM, then SIGKILL after 3 s). One JSON line per run is appended to --results, with the
series of samples in --series-dir/<label>.tsv.
"""
import argparse
import ctypes
import json
import os
import re
import signal
import sys
import time

PR_SET_CHILD_SUBREAPER = 36
PAGE = os.sysconf("SC_PAGE_SIZE")
TIME_FIELDS = {
    "Maximum resident set size (kbytes)": "time_maxrss_kb",
    "User time (seconds)": "user_s",
    "System time (seconds)": "sys_s",
    "Elapsed (wall clock) time (h:mm:ss or m:ss)": "elapsed",
    "Exit status": "exit_status",
    "Major (requiring I/O) page faults": "major_faults",
    "Voluntary context switches": "vol_cs",
    "Involuntary context switches": "invol_cs",
}


def read_proc_table():
    """{pid: (ppid, state, comm)} for every process visible in /proc."""
    table = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                stat = f.read()
        except OSError:
            continue
        # comm may contain spaces and parentheses: split at the last ')'.
        rp = stat.rfind(")")
        comm = stat[stat.find("(") + 1:rp]
        rest = stat[rp + 2:].split()
        table[int(name)] = (int(rest[1]), rest[0], comm)
    return table


def descendants(table, root):
    children = {}
    for pid, (ppid, _s, _c) in table.items():
        children.setdefault(ppid, []).append(pid)
    out, stack = [], [root]
    while stack:
        for c in children.get(stack.pop(), []):
            out.append(c)
            stack.append(c)
    return out


def mem_of(pid):
    """(rss_bytes, pss_bytes) of one process, or (0, 0) if it vanished."""
    rss = pss = 0
    try:
        with open("/proc/%d/statm" % pid) as f:
            rss = int(f.read().split()[1]) * PAGE
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    pss = int(line.split()[1]) * 1024
                    break
    except (OSError, ValueError, IndexError):
        pass
    return rss, pss


def cpu_busy_jiffies():
    with open("/proc/stat") as f:
        v = [int(x) for x in f.readline().split()[1:]]
    idle = v[3] + v[4]
    return sum(v[:8]) - idle


def parse_time_v(path):
    out = {}
    try:
        with open(path) as f:
            for line in f:
                key, _, val = line.strip().rpartition(": ")
                if key in TIME_FIELDS:
                    out[TIME_FIELDS[key]] = val
    except OSError:
        pass
    for k in ("time_maxrss_kb", "exit_status", "major_faults", "vol_cs", "invol_cs"):
        if k in out:
            out[k] = int(out[k])
    for k in ("user_s", "sys_s"):
        if k in out:
            out[k] = float(out[k])
    return out


def reap_children(main_pid, state):
    """Reap every exited child; remember the main child's status, count the orphans."""
    while True:
        try:
            pid, status, _ru = os.wait4(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return
        # wait4's usage covers the reaped process and every descendant it reaped; adding
        # the orphans reaped here gives the CPU of the whole tree, which /usr/bin/time alone
        # undercounts (Chromium's zygotes outlive the browser and are re-parented).
        state["cpu_s"] += _ru.ru_utime + _ru.ru_stime
        state["maxrss_kb"] = max(state["maxrss_kb"], _ru.ru_maxrss)
        if pid == main_pid:
            state["main_status"] = os.waitstatus_to_exitcode(status)
        else:
            state["orphans_reaped"] += 1
            state["orphan_cpu_s"] += _ru.ru_utime + _ru.ru_stime


def parse_summary(path):
    """Last line of the peer's stdout: JSON (peer A) or key=value pairs (peer B)."""
    try:
        with open(path) as f:
            lines = [ln.strip() for ln in f if ln.strip()]
    except OSError:
        return None
    if not lines:
        return None
    last = lines[-1]
    if last.startswith("{"):
        try:
            return json.loads(last)
        except ValueError:
            return None
    out = {}
    for part in last.split():
        k, _, v = part.partition("=")
        try:
            out[k] = float(v) if "." in v else int(v)
        except ValueError:
            out[k] = v
    return out


def proc_cpu_s(pid):
    """utime+stime of one process in seconds (0 if it is gone or no pid)."""
    if not pid:
        return 0.0
    try:
        with open("/proc/%d/stat" % pid) as f:
            rest = f.read().rsplit(")", 1)[1].split()
        return (int(rest[11]) + int(rest[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return 0.0


def run(cmd, label, interval, series_path, stdout_file="", stderr_file="", server_pid=0):
    me = os.getpid()
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")
    time_file = "/tmp/pictavo-bench/time-%s-%d.txt" % (label, me)
    os.makedirs("/tmp/pictavo-bench", exist_ok=True)
    argv = ["/usr/bin/time", "-v", "-o", time_file] + cmd
    with open("/proc/loadavg") as f:
        load_before = float(f.read().split()[0])
    busy0, cpu0, srv0 = cpu_busy_jiffies(), time.process_time(), proc_cpu_s(server_pid)
    t0 = time.monotonic()
    actions = []
    if stdout_file:
        actions.append((os.POSIX_SPAWN_OPEN, 1, stdout_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644))
    if stderr_file:
        actions.append((os.POSIX_SPAWN_OPEN, 2, stderr_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644))
    main_pid = os.posix_spawn(argv[0], argv, dict(os.environ), file_actions=actions)
    state = {"main_status": None, "orphans_reaped": 0, "cpu_s": 0.0, "orphan_cpu_s": 0.0, "maxrss_kb": 0}
    peak = {"rss": 0, "pss": 0, "nproc": 0, "nchrome": 0, "zombies": 0}
    zombie_seen = {}           # pid -> first time seen as zombie (parent is not us)
    lingering = set()
    series = open(series_path, "w") if series_path else None
    if series:
        series.write("t_s\trss_mb\tpss_mb\tnproc\tnchrome\tzombies\n")
    while state["main_status"] is None:
        table = read_proc_table()
        pids = [p for p in descendants(table, me)]
        rss = pss = nchrome = zombies = 0
        now = time.monotonic()
        for p in pids:
            ppid, st, comm = table[p]
            if st == "Z":
                if ppid != me:
                    zombies += 1
                    first = zombie_seen.setdefault(p, now)
                    if now - first > 2.0:
                        lingering.add(p)
                continue
            r, s = mem_of(p)
            rss += r
            pss += s
            if comm.startswith("chrom") or comm.startswith("headless"):
                nchrome += 1
        peak["rss"] = max(peak["rss"], rss)
        peak["pss"] = max(peak["pss"], pss)
        peak["nproc"] = max(peak["nproc"], len(pids))
        peak["nchrome"] = max(peak["nchrome"], nchrome)
        peak["zombies"] = max(peak["zombies"], zombies)
        if series:
            series.write("%.2f\t%.1f\t%.1f\t%d\t%d\t%d\n" % (now - t0, rss / 2**20, pss / 2**20,
                                                            len(pids), nchrome, zombies))
        reap_children(main_pid, state)
        if state["main_status"] is None:
            time.sleep(interval)
            reap_children(main_pid, state)
    wall = time.monotonic() - t0
    busy1, cpu1, srv1 = cpu_busy_jiffies(), time.process_time(), proc_cpu_s(server_pid)
    if series:
        series.close()
    # Leftovers: anything of ours still alive after the peer exited.
    time.sleep(0.5)
    reap_children(main_pid, state)
    table = read_proc_table()
    leftovers = [p for p in descendants(table, me) if table[p][1] != "Z"]
    leftover_cmds = []
    for p in leftovers:
        try:
            with open("/proc/%d/cmdline" % p, "rb") as f:
                leftover_cmds.append(f.read().replace(b"\0", b" ")[:120].decode(errors="replace"))
        except OSError:
            pass
        try:
            os.kill(p, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + 3
    while leftovers and time.monotonic() < deadline:
        reap_children(main_pid, state)
        table = read_proc_table()
        alive = [p for p in leftovers if p in table and table[p][1] != "Z"]
        if not alive:
            break
        time.sleep(0.1)
    else:
        for p in leftovers:
            try:
                os.kill(p, signal.SIGKILL)
            except ProcessLookupError:
                pass
    time.sleep(0.2)
    reap_children(main_pid, state)
    hz = os.sysconf("SC_CLK_TCK")
    rec = {
        "label": label, "cmd": " ".join(cmd), "wall_s": round(wall, 3),
        "exit": state["main_status"], "load1_before": load_before,
        "peak_rss_sum_mb": round(peak["rss"] / 2**20, 1), "peak_pss_sum_mb": round(peak["pss"] / 2**20, 1),
        "peak_nproc": peak["nproc"], "peak_nchrome": peak["nchrome"], "peak_zombies": peak["zombies"],
        "lingering_zombies": len(lingering), "orphans_reaped": state["orphans_reaped"],
        "leftovers": len(leftovers), "leftover_cmds": leftover_cmds[:5],
        "system_busy_cpu_s": round((busy1 - busy0) / hz, 2),
        "sampler_cpu_s": round(cpu1 - cpu0, 2),
    }
    rec.update(parse_time_v(time_file))
    if stdout_file:
        rec["peer_summary"] = parse_summary(stdout_file)
    rec["tree_cpu_s"] = round(state["cpu_s"], 2)
    rec["orphan_cpu_s"] = round(state["orphan_cpu_s"], 2)
    rec["largest_process_maxrss_mb"] = round(state["maxrss_kb"] / 1024, 1)
    # CPU used on this machine during the run by processes that are not this run's
    # (other programs): a noise indicator.
    rec["server_cpu_s"] = round(srv1 - srv0, 2)
    rec["other_cpu_s"] = round(rec["system_busy_cpu_s"] - state["cpu_s"] - rec["sampler_cpu_s"]
                               - rec["server_cpu_s"], 2)
    try:
        os.remove(time_file)
    except OSError:
        pass
    return rec


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--label", required=True)
    ap.add_argument("--results", required=True)
    ap.add_argument("--interval", type=float, default=0.25)
    ap.add_argument("--series-dir", default="")
    ap.add_argument("--stdout-file", default="", help="send the peer's stdout here; its last line is kept")
    ap.add_argument("--stderr-file", default="", help="send the peer's stderr here")
    ap.add_argument("--server-pid", type=int, default=0, help="HTTP server pid, to report its CPU apart")
    ap.add_argument("cmd", nargs=argparse.REMAINDER)
    args = ap.parse_args(argv)
    cmd = args.cmd[1:] if args.cmd and args.cmd[0] == "--" else args.cmd
    if not cmd:
        ap.error("no command")
    if not re.fullmatch(r"[A-Za-z0-9_.-]+", args.label):
        ap.error("label: letters, digits, _ . - only")
    series = os.path.join(args.series_dir, args.label + ".tsv") if args.series_dir else ""
    if series:
        os.makedirs(args.series_dir, exist_ok=True)
    rec = run(cmd, args.label, args.interval, series, args.stdout_file, args.stderr_file,
              args.server_pid)
    with open(args.results, "a") as f:
        f.write(json.dumps(rec) + "\n")
    print(json.dumps(rec))


if __name__ == "__main__":
    sys.exit(main())
