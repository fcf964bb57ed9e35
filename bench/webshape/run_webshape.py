#!/usr/bin/env python3
"""`pictavo run` and the reference script side by side on a web with the real web's shape.

  python3 bench/webshape/run_webshape.py [--count 400] [--concurrency "4 32"] [--reps 1] [--timeout 30]
      [--sides pictavo,script] [--peers /tmp/peers-webshape] [--build build] [--out /tmp/pictavo-bench/webshape]
  python3 bench/webshape/run_webshape.py --check      # the isolation checks alone
  python3 bench/webshape/run_webshape.py --summarize --out DIR   # summary.md again from DIR/runs.jsonl

Runs as root and moves itself into a network and mount namespace of its own (unshare): there `lo` is up,
a veth pair with one documentation address makes the browser believe it is online (with no route
anywhere), /etc/resolv.conf is bind-mounted to name serve_web.py's resolver on 127.0.0.53, and nothing
can reach any address outside the namespace. It generates the web (gen_web.py), serves it, checks the
isolation (getent and the browser both resolve through the local resolver, .invalid fails, no route
out), then for each repetition and concurrency runs both sides, alternating which goes first:

- pictavo: a scratch program folder, its own settings store, the default settings but ThreadsCount=C,
  Timeout=T s and EnableScript=1; `run --json` gives each link's outcome and seconds.
- the script (peer A, node capture.js): concurrency C, --timeout T s, --delay 1000 (our DelayTime's
  default), scripts on.

Each run is measured as a process tree: this process is a child subreaper, so browser processes that
outlive their parent are still counted; PSS is summed over the tree every --sample-s seconds, processor
time comes from the reaped processes' rusage. Thumbnails are checked against each page's colour.
Writes <out>/runs.jsonl (one line a run), <out>/links-<label>.jsonl (one line a link) and
<out>/summary.md.
"""
import argparse
import ctypes
import json
import math
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import dns_web  # noqa: E402
import gen_web  # noqa: E402

NETNS_MARK = "PICTAVO_WEBSHAPE_NETNS"
RESOLVER = "127.0.0.53"
# An address from the documentation range (TEST-NET-1) on a veth pair inside the namespace: the browser
# calls a machine with no address but loopback "offline" and fails every lookup as disconnected.
ONLINE_ADDRESS = "192.0.2.1/32"
PR_SET_CHILD_SUBREAPER = 36
DEAD_KINDS = ("unresolved", "refused", "no-answer", "silent", "http-error", "redirect-loop")
# Where the checker looks in a 120x90 thumbnail: inside the page's block (the left half, as tall as the
# page, so whatever height the capture has), clear of its edge and of the watermark pictavo draws at the
# top left by default.
BLOCK_CROP = "44x60+8+22"
# That part must be this close to the page's colour, per channel (the palette is 24 apart), and this flat.
COLOUR_TOLERANCE = 11
FLAT_SD = 0.05
BLANK_SD = 0.015


# ---- the namespace -------------------------------------------------------------------------------

def enter_namespace():
    """Re-runs this script inside a new network and mount namespace; gives its exit code."""
    if os.geteuid() != 0:
        raise SystemExit("run as root: the benchmark makes a network namespace of its own")
    env = dict(os.environ, **{NETNS_MARK: "1"})
    command = ["unshare", "--net", "--mount", "--propagation", "private", "--",
               sys.executable, os.path.abspath(__file__)] + sys.argv[1:]
    return subprocess.call(command, env=env)


def set_up_namespace(out):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["ip", "link", "add", "webshape0", "type", "veth", "peer", "name", "webshape1"], check=True)
    subprocess.run(["ip", "addr", "add", ONLINE_ADDRESS, "dev", "webshape0"], check=True)
    subprocess.run(["ip", "link", "set", "webshape1", "up"], check=True)
    subprocess.run(["ip", "link", "set", "webshape0", "up"], check=True)
    resolv = os.path.join(out, "resolv.conf")
    with open(resolv, "w") as f:
        f.write("nameserver %s\noptions timeout:2 attempts:1\n" % RESOLVER)
    subprocess.run(["mount", "--bind", resolv, "/etc/resolv.conf"], check=True)


def isolation_checks(web, out):
    """What the namespace looks like from inside, and that names resolve here and nowhere else."""
    live = next(l for l in web["links"] if l["kind"] == "page")
    dead = next(l for l in web["links"] if l["kind"] == "unresolved")
    checks = {}
    checks["routes"] = subprocess.run(["ip", "route", "show", "table", "all"], capture_output=True,
                                      text=True).stdout.split("\n")
    checks["route_out"] = subprocess.run(["ip", "route", "get", "1.1.1.1"], capture_output=True,
                                         text=True).returncode != 0
    getent = subprocess.run(["getent", "hosts", live["name"]], capture_output=True, text=True)
    checks["getent_live"] = getent.stdout.split()[:1] == [live["address"]]
    checks["getent_invalid_fails"] = subprocess.run(["getent", "hosts", dead["name"]],
                                                    capture_output=True).returncode != 0
    checks["getent_outside_fails"] = subprocess.run(["getent", "hosts", "example.com"],
                                                    capture_output=True).returncode != 0
    checks["resolver_nxdomain"] = dns_web.query("example.com", (RESOLVER, 53))[0] == dns_web.RCODE_NXDOMAIN
    browser = "/usr/lib/chromium/chromium-headless-shell"
    dom = subprocess.run(["timeout", "60", browser, "--no-sandbox", "--dump-dom", live["url"]],
                         capture_output=True, text=True)
    checks["browser_live"] = gen_web.hex_colour(live["colour"]) in dom.stdout
    dom = subprocess.run(["timeout", "60", browser, "--no-sandbox", "--dump-dom", dead["url"]],
                         capture_output=True, text=True)
    checks["browser_invalid"] = "ERR_NAME_NOT_RESOLVED" in dom.stdout + dom.stderr
    checks["ok"] = all(v for k, v in checks.items() if k != "routes")
    with open(os.path.join(out, "isolation.json"), "w") as f:
        json.dump(checks, f, indent=1)
    return checks


# ---- the process tree ----------------------------------------------------------------------------

def proc_table():
    table = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                stat = f.read()
        except OSError:
            continue
        rest = stat[stat.rfind(")") + 2:].split()
        table[int(name)] = (int(rest[1]), rest[0])
    return table


def descendants(table, root, skip=()):
    children = {}
    for pid, (ppid, _state) in table.items():
        children.setdefault(ppid, []).append(pid)
    out, stack = [], [root]
    while stack:
        for child in children.get(stack.pop(), []):
            if child in skip:
                continue
            out.append(child)
            stack.append(child)
    return out


def pss_kib(pid):
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def proc_cpu_s(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            rest = f.read().rsplit(")", 1)[1].split()
        return (int(rest[11]) + int(rest[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return 0.0


def machine_busy_s():
    with open("/proc/stat") as f:
        v = [int(x) for x in f.readline().split()[1:]]
    return (sum(v[:8]) - v[3] - v[4]) / os.sysconf("SC_CLK_TCK")


class Reaper:
    """Reaps every child that ends (this process is a subreaper) and adds up their processor time."""

    def __init__(self, server_pid):
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
            raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")
        self.server_pid = server_pid
        self.cpu_s = 0.0
        self.ended = {}

    def reap(self):
        while True:
            try:
                pid, status, usage = os.wait4(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return
            if pid == self.server_pid:
                raise SystemExit("the web server died")
            self.cpu_s += usage.ru_utime + usage.ru_stime
            self.ended[pid] = os.waitstatus_to_exitcode(status)


def run_measured(argv, env, stdout_path, stderr_path, reaper, sample_s):
    """Runs argv to its end; gives wall seconds, exit code, the tree's processor seconds and peak PSS."""
    me = os.getpid()
    skip = {reaper.server_pid}
    cpu0 = reaper.cpu_s
    busy0 = machine_busy_s()
    server0 = proc_cpu_s(reaper.server_pid)
    load = open("/proc/loadavg").read().split()[:3]
    actions = [(os.POSIX_SPAWN_OPEN, 1, stdout_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644),
               (os.POSIX_SPAWN_OPEN, 2, stderr_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)]
    started = time.monotonic()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
    peak_kib, peak_procs = 0, 0
    while pid not in reaper.ended:
        tree = descendants(proc_table(), me, skip)
        peak_kib = max(peak_kib, sum(pss_kib(p) for p in tree))
        peak_procs = max(peak_procs, len(tree))
        reaper.reap()
        if pid not in reaper.ended:
            time.sleep(sample_s)
            reaper.reap()
    wall = time.monotonic() - started
    # Whatever the run left behind (a browser's helpers) is given 10 s to leave, then ended by pid.
    deadline = time.monotonic() + 10
    leftovers = []
    while True:
        reaper.reap()
        table = proc_table()
        leftovers = [p for p in descendants(table, me, skip) if table[p][1] != "Z"]
        if not leftovers or time.monotonic() > deadline:
            break
        time.sleep(0.2)
    for p in leftovers:
        try:
            os.kill(p, signal.SIGKILL)
        except ProcessLookupError:
            pass
    time.sleep(0.3)
    reaper.reap()
    return {"wall_s": round(wall, 2), "exit": reaper.ended[pid], "tree_cpu_s": round(reaper.cpu_s - cpu0, 1),
            "peak_pss_mb": round(peak_kib / 1024, 1), "peak_procs": peak_procs, "leftovers": len(leftovers),
            "server_cpu_s": round(proc_cpu_s(reaper.server_pid) - server0, 1),
            "machine_busy_s": round(machine_busy_s() - busy0, 1), "loadavg_before": load}


# ---- the pictures --------------------------------------------------------------------------------

def number(text):
    """A spread from ImageMagick, which gives nan (or -nan) for a perfectly flat patch."""
    value = float(text)
    return 0.0 if math.isnan(value) else value


def picture_stats(paths):
    """{file name: (top-left block's mean RGB, its spread, the whole picture's spread)}, by ImageMagick."""
    stats = {}
    for start in range(0, len(paths), 200):
        chunk = paths[start:start + 200]
        block = subprocess.run(
            ["convert", *chunk, "-resize", "120x90!", "-crop", BLOCK_CROP, "-format",
             "%f %[fx:255*mean.r] %[fx:255*mean.g] %[fx:255*mean.b] %[fx:standard_deviation]\n", "info:"],
            capture_output=True, text=True).stdout
        whole = subprocess.run(["convert", *chunk, "-format", "%f %[fx:standard_deviation]\n", "info:"],
                               capture_output=True, text=True).stdout
        spread = {}
        for line in whole.splitlines():
            name, sd = line.split()
            spread[name] = number(sd)
        for line in block.splitlines():
            name, r, g, b, sd = line.split()
            stats[name] = ((float(r), float(g), float(b)), number(sd), spread.get(name, 1.0))
    return stats


def verdict(expected, stat, by_colour):
    """right / wrong / blank for a thumbnail, and whose colour a wrong one shows."""
    if stat is None:
        return "missing", None
    mean, block_sd, whole_sd = stat
    near = lambda rgb: max(abs(a - b) for a, b in zip(mean, rgb)) <= COLOUR_TOLERANCE  # noqa: E731
    if expected and block_sd < FLAT_SD and near(expected):
        return "right", None
    if whole_sd < BLANK_SD:
        return "blank", None
    if block_sd < FLAT_SD:
        for colour, ids in by_colour.items():
            if near(colour):
                return "wrong", ids[0]
    return "wrong", None


def check_pictures(web, folder, results):
    """Adds picture and picture_of to every result whose link paints a colour."""
    files = {r["id"]: os.path.join(folder, "%s.jpg" % r["id"]) for r in results}
    present = [p for p in files.values() if os.path.exists(p)]
    stats = picture_stats(present)
    by_id = {l["id"]: l for l in web["links"]}
    by_colour = {}
    for link in web["links"]:
        if link["kind"] in gen_web.COLOURED and link["kind"] != "parked":
            by_colour.setdefault(tuple(link["colour"]), []).append(link["id"])
    for result in results:
        link = by_id[result["id"]]
        stat = stats.get(os.path.basename(files[result["id"]]))
        expected = tuple(link["colour"]) if link["kind"] in gen_web.COLOURED else None
        if expected is None:
            result["picture"] = "none" if stat is None else "other"
            continue
        result["picture"], result["picture_of"] = verdict(expected, stat, by_colour)


# ---- the two sides -------------------------------------------------------------------------------

def script_outcome(record):
    """The script's result in pictavo's words, as near as its error text allows."""
    if record.get("ok"):
        return "captured"
    error = record.get("error", "")
    code = re.search(r"net::(ERR_[A-Z_]+)", error)
    code = code.group(1) if code else ""
    if code == "ERR_NAME_NOT_RESOLVED":
        return "unresolved"
    if code == "ERR_CONNECTION_REFUSED":
        return "refused"
    if code in ("ERR_TIMED_OUT", "ERR_CONNECTION_TIMED_OUT") or "time-out after" in error or "timeout" in error.lower():
        return "timed-out"
    return "failed:" + (code or error[:40])


def run_pictavo(args, web, links_path, label, reaper):
    folder = os.path.join(args.out, "runs", label)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "data"))
    shutil.copy(links_path, os.path.join(folder, "data", "LinksInfo.txt"))
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, "config"), QT_QPA_PLATFORM="offscreen")
    argv = [os.path.join(args.build, "bin", "pictavo"), "--folder", folder,
            "--set", "ThreadsCount=%d" % args.c, "--set", "Timeout=%d" % (args.timeout * 1000),
            "--set", "EnableScript=1", "run", "--json"]
    stdout = os.path.join(folder, "stdout.jsonl")
    measured = run_measured(argv, env, stdout, os.path.join(folder, "stderr.txt"), reaper, args.sample_s)
    results = []
    with open(stdout) as f:
        for line in f:
            if line.startswith("{"):
                rec = json.loads(line)
                results.append({"id": str(rec["id"]), "outcome": rec["outcome"],
                                "seconds": round(rec.get("elapsed_ms", 0) / 1000, 2),
                                "http_status": rec.get("http_status")})
    check_pictures(web, os.path.join(folder, "snapshots"), results)
    return measured, results


def run_script(args, web, links_path, label, reaper):
    folder = os.path.join(args.out, "runs", label)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    capture = os.path.join(args.peers, "node", "capture.js")
    results_path = os.path.join(folder, "results.jsonl")
    argv = [shutil.which("node"), capture, "--links", links_path, "--out", os.path.join(folder, "thumbs"),
            "--concurrency", str(args.c), "--delay", "1000", "--timeout", str(args.timeout * 1000),
            "--results", results_path]
    measured = run_measured(argv, dict(os.environ), os.path.join(folder, "stdout.txt"),
                            os.path.join(folder, "stderr.txt"), reaper, args.sample_s)
    results = []
    if os.path.exists(results_path):
        with open(results_path) as f:
            for line in f:
                rec = json.loads(line)
                results.append({"id": rec["id"], "outcome": script_outcome(rec), "seconds": round(rec["ms"] / 1000, 2),
                                "error": rec.get("error", "")[:160]})
    check_pictures(web, os.path.join(folder, "thumbs"), results)
    return measured, results


# ---- figures -------------------------------------------------------------------------------------

def figures(web, results, timeout_s, wall_s):
    """A run's figures from its links' results."""
    by_id = {l["id"]: l for l in web["links"]}
    outcomes, by_kind, pictures, lost, dead_s = {}, {}, {}, [], {}
    eligible = 0
    for r in results:
        link = by_id[r["id"]]
        outcomes[r["outcome"]] = outcomes.get(r["outcome"], 0) + 1
        kind = by_kind.setdefault(link["kind"], {})
        kind[r["outcome"]] = kind.get(r["outcome"], 0) + 1
        if link["kind"] in gen_web.COLOURED:
            pictures[r["picture"]] = pictures.get(r["picture"], 0) + 1
        if link["kind"] in gen_web.LIVE and link["idle_load_s"] <= timeout_s / 2:
            eligible += 1
            if r["picture"] != "right":
                lost.append({"id": r["id"], "outcome": r["outcome"], "picture": r["picture"],
                             "idle_load_s": link["idle_load_s"]})
        if link["kind"] in DEAD_KINDS:
            dead_s.setdefault(link["kind"], []).append(r["seconds"])
    missing = len(web["links"]) - len(results)
    return {"links": len(results), "missing": missing, "links_per_s": round(len(web["links"]) / wall_s, 3),
            "outcomes": outcomes, "by_kind": by_kind, "pictures": pictures,
            "live_eligible": eligible, "false_timeouts": len(lost), "lost": lost[:40],
            "wrong_pictures": pictures.get("wrong", 0),
            "dead_kind_median_s": {k: round(statistics.median(v), 2) for k, v in sorted(dead_s.items())}}


def summary_markdown(records, args):
    first = records[0] if records else {}
    lines = ["# webshape: %d links, seed %d, time-out %d s, scripts on" % (
        first.get("count", args.count), first.get("seed", args.seed), first.get("timeout_s", args.timeout)), "",
             "| side | C | runs | links/s (each run) | live pages lost of eligible | wrong pictures | blank |"
             " tree CPU s | peak PSS MB | load before |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    groups = {}
    for rec in records:
        groups.setdefault((rec["side"], rec["c"]), []).append(rec)
    for (side, c), recs in sorted(groups.items(), key=lambda kv: (kv[0][1], kv[0][0])):
        lines.append("| %s | %d | %d | %s | %s of %d | %s | %s | %s | %s | %s |" % (
            side, c, len(recs), ", ".join("%.2f" % r["links_per_s"] for r in recs),
            ", ".join(str(r["false_timeouts"]) for r in recs), recs[0]["live_eligible"],
            ", ".join(str(r["wrong_pictures"]) for r in recs),
            ", ".join(str(r["pictures"].get("blank", 0)) for r in recs),
            ", ".join("%.0f" % r["tree_cpu_s"] for r in recs), ", ".join("%.0f" % r["peak_pss_mb"] for r in recs),
            ", ".join(r["loadavg_before"][0] for r in recs)))
    lines += ["", "Seconds a dead link costs (median per kind, each run):", "",
              "| side | C | " + " | ".join(DEAD_KINDS) + " |", "|---|---|" + "---|" * len(DEAD_KINDS)]
    for (side, c), recs in sorted(groups.items(), key=lambda kv: (kv[0][1], kv[0][0])):
        cells = [", ".join(str(r["dead_kind_median_s"].get(k, "-")) for r in recs) for k in DEAD_KINDS]
        lines.append("| %s | %d | %s |" % (side, c, " | ".join(cells)))
    lines += ["", "Outcomes (last run of each):", ""]
    for (side, c), recs in sorted(groups.items(), key=lambda kv: (kv[0][1], kv[0][0])):
        lines.append("- %s C=%d: %s" % (side, c, ", ".join("%s %d" % kv for kv in
                                                          sorted(recs[-1]["outcomes"].items(), key=lambda kv: -kv[1]))))
    lines += ["", "Outcomes by kind of link (last run of each):", ""]
    for (side, c), recs in sorted(groups.items(), key=lambda kv: (kv[0][1], kv[0][0])):
        kinds = ["%s: %s" % (kind, ", ".join("%s %d" % kv for kv in sorted(counts.items(), key=lambda kv: -kv[1])))
                 for kind, counts in sorted(recs[-1]["by_kind"].items())]
        lines.append("- %s C=%d: %s" % (side, c, "; ".join(kinds)))
    return "\n".join(lines) + "\n"


def write_summary(args):
    """summary.md over every run recorded in the folder."""
    with open(os.path.join(args.out, "runs.jsonl")) as f:
        records = [json.loads(line) for line in f if line.strip()]
    summary = summary_markdown(records, args)
    with open(os.path.join(args.out, "summary.md"), "w") as f:
        f.write(summary)
    print(summary)


def start_server(web_dir, out):
    log = open(os.path.join(out, "server.log"), "w")
    server = subprocess.Popen([sys.executable, os.path.join(HERE, "serve_web.py"), "--web", web_dir],
                              stdout=subprocess.PIPE, stderr=log, text=True)
    ready = server.stdout.readline()
    if not ready.startswith('{"ready"'):
        server.kill()
        raise SystemExit("the web server did not start: %s" % ready)
    return server


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--count", type=int, default=400)
    ap.add_argument("--seed", type=int, default=20261210)
    ap.add_argument("--concurrency", default="4 32")
    ap.add_argument("--reps", type=int, default=1)
    ap.add_argument("--timeout", type=int, default=30, help="seconds")
    ap.add_argument("--sides", default="pictavo,script")
    ap.add_argument("--peers", default="/tmp/peers-webshape", help="a copy of the peers folder, after npm ci")
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", default="/tmp/pictavo-bench/webshape")
    ap.add_argument("--sample-s", type=float, default=0.5)
    ap.add_argument("--check", action="store_true", help="only generate, serve and check the isolation")
    ap.add_argument("--summarize", action="store_true", help="only write summary.md again from runs.jsonl")
    args = ap.parse_args()
    args.out = os.path.abspath(args.out)
    args.build = os.path.abspath(args.build)
    if args.summarize:
        write_summary(args)
        return 0
    if os.environ.get(NETNS_MARK) != "1":
        return enter_namespace()

    os.makedirs(args.out, exist_ok=True)
    set_up_namespace(args.out)
    web = gen_web.generate(args.count, args.seed)
    web_dir = os.path.join(args.out, "web")
    gen_web.write(web, web_dir)
    links_path = os.path.join(web_dir, "links.txt")
    server = start_server(web_dir, args.out)
    try:
        checks = isolation_checks(web, args.out)
        print(json.dumps({"isolation": {k: v for k, v in checks.items() if k != "routes"}}), flush=True)
        if not checks["ok"] or args.check:
            return 0 if checks["ok"] else 1
        commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                                text=True).stdout.strip()
        reaper = Reaper(server.pid)
        sides = args.sides.split(",")
        runs_path = os.path.join(args.out, "runs.jsonl")
        for rep in range(1, args.reps + 1):
            for index, c in enumerate(int(x) for x in args.concurrency.split()):
                order = sides if (rep + index) % 2 == 1 else list(reversed(sides))
                for side in order:
                    args.c = c
                    label = "%s-c%d-r%d" % (side, c, rep)
                    runner = run_pictavo if side == "pictavo" else run_script
                    measured, results = runner(args, web, links_path, label, reaper)
                    record = {"label": label, "side": side, "c": c, "rep": rep, "timeout_s": args.timeout,
                              "count": args.count, "seed": args.seed, "commit": commit}
                    record.update(measured)
                    record.update(figures(web, results, args.timeout, measured["wall_s"]))
                    with open(runs_path, "a") as f:
                        f.write(json.dumps(record) + "\n")
                    with open(os.path.join(args.out, "links-%s.jsonl" % label), "w") as f:
                        for r in results:
                            f.write(json.dumps(r) + "\n")
                    print(json.dumps({k: record[k] for k in ("label", "wall_s", "links_per_s", "false_timeouts",
                                                             "live_eligible", "wrong_pictures", "tree_cpu_s",
                                                             "peak_pss_mb", "outcomes")}), flush=True)
        write_summary(args)
    finally:
        server.terminate()
        try:
            print(server.communicate(timeout=10)[0].strip())
        except subprocess.TimeoutExpired:
            server.kill()
    return 0


if __name__ == "__main__":
    sys.exit(main())
