#!/usr/bin/env python3
"""One long run of `pictavo run` over many loopback sites with hostile pages mixed in.

  python3 bench/bigrun/bigrun.py [--links 100000] [--sites 50] [--hostile-every 100] [--threads 4]
                                 [--kill-at N] [--build build] [--out /tmp/pictavo-bench/bigrun]

Generates the capture benchmark's corpus (bench/capture/gen_corpus.py) and serves it on 127.0.0.1 to
127.0.0.<sites> (bench/capture/serve.py, port 18867), and starts hostile.py on 127.0.0.1:18881. Link N is
corpus page N mod <pages> on site N mod <sites>, with ?n=N so that every address is its own; every
<hostile-every>th link is a hostile page instead. A scratch program folder gets the links database and
its own settings store, and the real `pictavo run --json` captures it with no network but loopback.

While it runs, the PSS of pictavo's whole process tree (the browser's processes included) is sampled
every --sample-s seconds. At the end it prints, per tenth of the links, links per second and the mean
PSS, then checks that every link has an outcome in the run report.

With --kill-at N, pictavo gets SIGKILL once N links have ended; then `pictavo run --skip-existing`
runs over the same folder, and the check is that nothing was lost: every link has an outcome in one
of the two reports, and no link was captured twice. Prints one JSON line of results last; exit 1 when
a check fails.
"""
import argparse
import csv
import glob
import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CAPTURE = os.path.join(ROOT, "bench", "capture")
sys.path.insert(0, CAPTURE)
sys.path.insert(0, HERE)
import gen_corpus  # noqa: E402
import hostile  # noqa: E402

CORPUS_PORT = 18897
HOSTILE_PORT = 18881
RULES = '"--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.*"'


def wait_for(url, what, server):
    for _ in range(200):
        try:
            urllib.request.urlopen(url, timeout=2).read()
            return
        except OSError:
            if server.poll() is not None:
                break
            time.sleep(0.1)
    server.kill()
    raise SystemExit("%s did not start" % what)


def start_servers(corpus, sites, out):
    log = open(os.path.join(out, "servers.log"), "w")
    corpus_server = subprocess.Popen(
        [sys.executable, os.path.join(CAPTURE, "serve.py"), "--dir", corpus, "--port", str(CORPUS_PORT),
         "--sites", str(sites)], stdout=log, stderr=log)
    hostile_server = subprocess.Popen(
        [sys.executable, os.path.join(HERE, "hostile.py"), "--port", str(HOSTILE_PORT)], stdout=log, stderr=log)
    wait_for("http://127.0.0.1:%d/__stats" % CORPUS_PORT, "the corpus server", corpus_server)
    wait_for("http://127.0.0.1:%d/__stats" % HOSTILE_PORT, "the hostile server", hostile_server)
    return [corpus_server, hostile_server]


def write_links(path, count, sites, hostile_every, corpus):
    """Writes the links database; gives the set of hostile lines."""
    with open(os.path.join(corpus, "links.txt")) as f:
        pages = [line.split("|", 1)[1].strip() for line in f if "|" in line]
    # http://127.0.0.1:18865/p/0001.html[?delay=MS] -> the path and query
    paths = [url.split("/", 3)[3] for url in pages]
    hostile_lines = set()
    with open(path, "w") as out:
        for n in range(1, count + 1):
            if hostile_every and n % hostile_every == 0:
                route = hostile.ROUTES[(n // hostile_every) % len(hostile.ROUTES)]
                url = "http://127.0.0.1:%d%s?n=%d" % (HOSTILE_PORT, route, n)
                hostile_lines.add(n)
            else:
                page = paths[(n - 1) % len(paths)]
                url = "http://127.0.0.%d:%d/%s%sn=%d" % (n % sites + 1, CORPUS_PORT, page,
                                                         "&" if "?" in page else "?", n)
            out.write("%d|%s\n" % (n, url))
    return hostile_lines


def process_tree(root):
    """The pids of root and all its descendants."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                text = f.read()
        except OSError:
            continue
        ppid = int(text[text.rindex(")") + 2:].split()[1])
        children.setdefault(ppid, []).append(int(entry))
    tree, todo = [], [root]
    while todo:
        pid = todo.pop()
        tree.append(pid)
        todo.extend(children.get(pid, []))
    return tree


def pss_kib(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
                        break
        except OSError:
            pass
    return total


def cpu_ticks(pid):
    """The process's own processor time (user and system), in clock ticks; 0 once it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            text = f.read()
    except OSError:
        return 0
    fields = text[text.rindex(")") + 2:].split()
    return int(fields[11]) + int(fields[12])


def machine_busy_ticks():
    """The whole machine's busy time (user, nice, system, irq, softirq), in clock ticks."""
    with open("/proc/stat") as f:
        values = [int(v) for v in f.readline().split()[1:8]]
    return values[0] + values[1] + values[2] + values[5] + values[6]


def probe_ms():
    """This thread's CPU time for a fixed piece of work: the host's own speed, which drifts on a shared
    virtual machine. Under a steady load a rise means the host slowed, not the run."""
    started = time.thread_time()
    total = 0
    for n in range(200000):
        total += n * n % 7
    return (time.thread_time() - started) * 1000


class Run:
    """One `pictavo run`: its outcome times from standard output and its tree's PSS samples."""

    def __init__(self, args, folder, extra, kill_at=0, progress_every=0):
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, "config"), PICTAVO_BROWSER_FLAGS=RULES,
                   QT_QPA_PLATFORM="offscreen")
        command = [os.path.join(args.build, "bin", "pictavo"), "--folder", folder,
                   "--set", "ThreadsCount=%d" % args.threads, "--set", "DelayTime=0", "run", "--json"] + extra
        self.err = open(os.path.join(folder, "run-%d.err" % int(time.time() * 1000)), "w")
        self.started = time.monotonic()
        self.process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=self.err, text=True)
        self.ends = []          # monotonic time of each outcome line
        # (seconds, outcomes so far, tree PSS KiB, pictavo's own PSS KiB, probe ms, pictavo's CPU ticks,
        #  the machine's busy ticks)
        self.samples = []
        self.pids = set()
        self.kill_at = kill_at
        self.progress_every = progress_every
        self.killed = False
        self.sample_s = args.sample_s
        self.sampler = threading.Thread(target=self.sample, daemon=True)
        self.sampler.start()

    def sample(self):
        while self.process.poll() is None:
            tree = process_tree(self.process.pid)
            self.pids.update(tree)
            self.samples.append((time.monotonic() - self.started, len(self.ends), pss_kib(tree),
                                 pss_kib([self.process.pid]), probe_ms(), cpu_ticks(self.process.pid),
                                 machine_busy_ticks()))
            time.sleep(self.sample_s)

    def progress(self):
        """A line on standard error as the run goes, so that a run stopped early still has its figures."""
        recent = self.samples[-20:]
        if not recent:
            return
        tree = sorted(sample[2] for sample in recent)
        own = sorted(sample[3] for sample in recent)
        sys.stderr.write(json.dumps({"links": len(self.ends), "seconds": round(self.ends[-1] - self.started, 1),
                                     "tree_pss_mib": round(tree[len(tree) // 2] / 1024, 1),
                                     "own_pss_mib": round(own[len(own) // 2] / 1024, 1),
                                     "probe_ms": round(sorted(sample[4] for sample in recent)[len(recent) // 2], 1)})
                         + "\n")
        sys.stderr.flush()

    def wait(self):
        for line in self.process.stdout:
            if not line.startswith("{"):
                continue
            self.ends.append(time.monotonic())
            if self.progress_every and len(self.ends) % self.progress_every == 0:
                self.progress()
            if self.kill_at and len(self.ends) >= self.kill_at and not self.killed:
                self.process.send_signal(signal.SIGKILL)
                self.killed = True
        code = self.process.wait()
        self.sampler.join()
        # The browser sees its pipe close and leaves by itself; wait for every process of the tree.
        for _ in range(300):
            alive = [pid for pid in self.pids if os.path.exists("/proc/%d" % pid) and is_ours(pid)]
            if not alive:
                break
            time.sleep(0.1)
        return code


def is_ours(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split()[2] != "Z"
    except OSError:
        return False


def tenths(run, count):
    """Links per second, median and largest PSS (MiB) per tenth of the links. The median is the figure to
    compare: a hostile page that fills a renderer's memory until it dies makes a spike of a few seconds."""
    rows = []
    step = max(1, count // 10)
    previous = run.started
    for tenth in range(10):
        last = min(len(run.ends), (tenth + 1) * step) - 1
        if last < tenth * step:
            break
        seconds = run.ends[last] - previous
        links = last + 1 - tenth * step
        within = [sample for sample in run.samples if tenth * step <= sample[1] <= last + 1]
        inside = [sample[2] for sample in within]
        own = sorted(sample[3] for sample in within)
        probe = sorted(sample[4] for sample in within)
        # Processor time a link between the tenth's first and last samples: pictavo's own work is the
        # same for every link, so its figure moves with the host's speed alone; the machine's over
        # pictavo's says whether the rest (the browser) takes more a link as the run goes.
        spanned = within[-1][1] - within[0][1] if within else 0
        tick_ms = 1000 / os.sysconf("SC_CLK_TCK")
        own_cpu = (within[-1][5] - within[0][5]) * tick_ms / spanned if spanned > 0 else None
        machine = (within[-1][6] - within[0][6]) * tick_ms / spanned if spanned > 0 else None
        rows.append({"tenth": tenth + 1, "links": links, "seconds": round(seconds, 1),
                     "links_per_s": round(links / seconds, 2) if seconds > 0 else None,
                     "pss_mib": round(sorted(inside)[len(inside) // 2] / 1024, 1) if inside else None,
                     "pss_max_mib": round(max(inside) / 1024, 1) if inside else None,
                     "own_pss_mib": round(own[len(own) // 2] / 1024, 1) if own else None,
                     "probe_ms": round(probe[len(probe) // 2], 1) if probe else None,
                     "own_cpu_ms_per_link": round(own_cpu, 2) if own_cpu else None,
                     "machine_ms_per_link": round(machine, 1) if machine else None})
        previous = run.ends[last]
    return rows


def report_records(folder):
    """Every record of every run report in the folder: (line, outcome), in file order."""
    records = []
    for path in sorted(glob.glob(os.path.join(folder, "data", "reports", "run-*.csv"))):
        with open(path, newline="", encoding="utf-8") as f:
            for row in csv.DictReader(f):
                records.append((int(row["line"]), row["outcome"], os.path.basename(path)))
    return records


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--links", type=int, default=100000)
    ap.add_argument("--sites", type=int, default=50)
    ap.add_argument("--hostile-every", type=int, default=100)
    ap.add_argument("--threads", type=int, default=4)
    ap.add_argument("--pages", type=int, default=200, help="pages in the generated corpus")
    ap.add_argument("--kill-at", type=int, default=0)
    ap.add_argument("--sample-s", type=float, default=3.0)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", default="/tmp/pictavo-bench/bigrun")
    args = ap.parse_args()

    corpus = os.path.join(args.out, "corpus")
    if not os.path.exists(os.path.join(corpus, "links.txt")) or \
            sum(1 for _ in open(os.path.join(corpus, "links.txt"))) != args.pages:
        shutil.rmtree(corpus, ignore_errors=True)
        gen_corpus.generate(corpus, args.pages, "127.0.0.1", 18865, 20261207)
    folder = os.path.join(args.out, "folder")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "data"))
    hostile_lines = write_links(os.path.join(folder, "data", "LinksInfo.txt"), args.links, args.sites,
                                args.hostile_every, corpus)
    servers = start_servers(corpus, args.sites, args.out)
    try:
        first = Run(args, folder, [], args.kill_at, max(1, args.links // 100))
        first_code = first.wait()
        runs = [first]
        second_code = None
        if args.kill_at:
            second = Run(args, folder, ["--skip-existing"], 0, max(1, args.links // 100))
            second_code = second.wait()
            runs.append(second)
    finally:
        for server in servers:
            server.terminate()
            server.wait()

    for number, run in enumerate(runs, 1):
        print("run %d: %d outcomes in %.1f s, exit %s" % (number, len(run.ends),
              (run.ends[-1] - run.started) if run.ends else 0, run.process.returncode))
        print("tenth\tlinks\tseconds\tlinks/s\ttree PSS MiB (median, max)\tpictavo's own (median)\tprobe ms"
              "\tCPU ms a link (pictavo, machine)")
        for row in tenths(run, args.links if number == 1 and not args.kill_at else len(run.ends)):
            print("\t".join(str(row[key]) for key in ("tenth", "links", "seconds", "links_per_s", "pss_mib",
                                                       "pss_max_mib", "own_pss_mib", "probe_ms",
                                                       "own_cpu_ms_per_link", "machine_ms_per_link")))

    records = report_records(folder)
    by_line = {}
    for line, outcome, _ in records:
        by_line.setdefault(line, []).append(outcome)
    missing = [n for n in range(1, args.links + 1) if n not in by_line]
    captured_twice = [n for n, outcomes in by_line.items() if outcomes.count("captured") > 1]
    outcomes = {}
    for line, values in by_line.items():
        outcomes[values[-1]] = outcomes.get(values[-1], 0) + 1
    hostile_outcomes = {}
    for line in hostile_lines:
        for value in by_line.get(line, ["(none)"])[-1:]:
            hostile_outcomes[value] = hostile_outcomes.get(value, 0) + 1
    thumbnails = len(glob.glob(os.path.join(folder, "snapshots", "*.jpg")))
    main_run = tenths(runs[0], args.links) if not args.kill_at else []
    rates = [row["links_per_s"] for row in main_run if row["links_per_s"]]
    pss = [row["pss_mib"] for row in main_run[1:] if row["pss_mib"]]
    result = {
        "links": args.links, "sites": args.sites, "hostile": len(hostile_lines), "threads": args.threads,
        "kill_at": args.kill_at, "exit_codes": [first_code, second_code] if args.kill_at else [first_code],
        "records": len(records), "missing": len(missing), "missing_first": missing[:10],
        "captured_twice": len(captured_twice), "thumbnails": thumbnails, "outcomes": outcomes,
        "hostile_outcomes": hostile_outcomes,
        "last_to_first_rate": round(rates[-1] / rates[0], 3) if len(rates) >= 2 else None,
        "pss_spread_after_first_tenth": round(max(pss) / min(pss) - 1, 3) if len(pss) >= 2 else None,
        "loadavg": open("/proc/loadavg").read().split()[:3],
    }
    print(json.dumps(result))
    return 1 if missing or captured_twice else 0


if __name__ == "__main__":
    sys.exit(main())
