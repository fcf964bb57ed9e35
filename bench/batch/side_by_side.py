#!/usr/bin/env python3
"""The whole batch run side by side with the puppeteer-core reference script, in one series.

  python3 bench/batch/side_by_side.py [--reps 3] [--links FILE] [--modes d0:js0,d0:js1,d1000:js1] [--sides BAV]
                                      [--threads 4] [--batchbench build/bin/batchbench]
                                      [--endpoints LIST] [--name NAME] [--sites N] [--trace DIR]

Every repetition runs each mode once on each side, alternating, so slow drifts of the machine fall on
both sides alike:
  B  the batch run (batchbench: capture slots, completion into 120 x 90 JPEG thumbnails, list, strip);
     with a delay it runs in the page's virtual time unless the mode says "rt" (d1000:js1:rt); cookie
     banners are dismissed unless the mode says "nc" (d0:js1:nc)
  A  the reference script taking the screenshot with the protocol call itself (--raw 1), the delay
     waited in real time
  V  the same script running the delay in virtual time (--vt 1), for modes with a delay
  F  the floor (bench/trace/floor.py): the fewest protocol calls that give the thumbnail, the delay in
     virtual time; what any program pays for a page in a renderer process of its own (not by default)
Both sides get the same links, 4 (--threads) pages at once, a 1024 x 768 browser and the same script
setting. Pages per second are counted from outside (process start to exit, browser start included).
The table gives medians and the ratios B/A and B/V; every output folder is checked (thumbnails
present, 120 x 90, blank ones, pages changed by script after load that show the change).

Without --links the generated corpus of bench/capture is used (generated and served on 127.0.0.1:18865
when needed); --sites N serves it on 127.0.0.1 to 127.0.0.N (port 18867) and spreads the links over them,
so that, as in a real directory, consecutive links are on other sites: each page needs a renderer process
of its own, while one site's pages may share one. For real pages, serve the HTML documentation of Debian packages with
`python3 bench/batch/doc_links.py --serve` and pass its links file. Needs node and `npm ci` in
bench/capture (puppeteer-core; it never downloads a browser). Records: /tmp/pictavo-side/NAME/.

--trace DIR has both sides record the browser's own trace (DIR/<side>-<mode>-<rep>.json) and samples
each side's process tree (bench/trace/proctree.py): every run then also gives processor ms per page by
kind of process (program: batchbench or node; browser; renderer; gpu; network; utility; zygote), and the
table their medians. --machine gives the whole machine's busy processor time a page over each run
(/proc/stat: user, nice, system, interrupts; startup included), which also counts what no process tree
shows (processes' ends, the corpus server, the kernel's own threads): run it on an otherwise idle
machine. bench/trace/analyse.py breaks a trace down further. Tracing costs the browser
processor time of its own (its tracing service, about a third more here), so compare cuts with --tree:
the process trees' CPU alone, no trace.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CAPTURE = os.path.join(ROOT, "bench", "capture")
sys.path.insert(0, CAPTURE)
import check_thumbs  # noqa: E402
sys.path.insert(0, os.path.join(ROOT, "bench", "trace"))
import proctree  # noqa: E402

ROLES = ["program", "browser", "renderer", "gpu", "network", "utility", "zygote", "other", "total"]


def parse_mode(text):
    parts = text.split(":")
    mode = {"name": text, "delay": 0, "js": 1, "fast": 1, "consent": 1}
    for part in parts:
        if part.startswith("d") and part[1:].isdigit():
            mode["delay"] = int(part[1:])
        elif part in ("js0", "js1"):
            mode["js"] = int(part[2])
        elif part == "rt":
            mode["fast"] = 0
        elif part == "nc":
            mode["consent"] = 0
        else:
            raise SystemExit("bad mode %r: use d<ms>, js0 or js1, rt and nc" % text)
    return mode


def serve_generated_corpus(record_dir, sites):
    links = os.path.join(CAPTURE, "corpus", "links.txt")
    if not os.path.exists(links):
        subprocess.run([sys.executable, os.path.join(CAPTURE, "gen_corpus.py")], check=True, stdout=subprocess.DEVNULL)
    port = 18865
    command = [sys.executable, os.path.join(CAPTURE, "serve.py")]
    if sites > 1:
        # Link N on 127.0.0.(N mod sites + 1): consecutive links are on other sites, as in a directory.
        port = 18867
        command += ["--port", str(port), "--sites", str(sites)]
        spread = os.path.join(record_dir, "links-%d-sites.txt" % sites)
        with open(links) as f, open(spread, "w") as out:
            for n, line in enumerate(line for line in f if "|" in line):
                out.write(line.replace("127.0.0.1:18865", "127.0.0.%d:%d" % (n % sites + 1, port)))
        links = spread
    stats = "http://127.0.0.1:%d/__stats" % port
    try:
        urllib.request.urlopen(stats, timeout=2).read()
        return links, None
    except OSError:
        pass
    log = open(os.path.join(record_dir, "serve.log"), "w")
    server = subprocess.Popen(command, stdout=log, stderr=log)
    for _ in range(100):
        try:
            urllib.request.urlopen(stats, timeout=2).read()
            return links, server
        except OSError:
            time.sleep(0.1)
    server.kill()
    raise SystemExit("the corpus server did not start")


def manifest_for(links, generated_corpus, record_dir):
    """check_thumbs wants a manifest: the generated corpus's rows for its pages, plain rows otherwise."""
    known = {}
    if generated_corpus:
        with open(os.path.join(CAPTURE, "corpus", "manifest.tsv")) as f:
            next(f)
            for line in f:
                known[line.split("\t", 1)[0]] = line
    path = os.path.join(record_dir, "manifest.tsv")
    with open(links) as f, open(path, "w") as out:
        out.write("id\tkind\theight\tdelay\n")
        for line in f:
            line = line.strip()
            if line and not line.startswith("#") and "|" in line:
                pid = line.split("|", 1)[0]
                out.write(known.get(pid, "%s\tpage\t0\t0\n" % pid))
    return path


def command(side, mode, args, links, out):
    if side == "B":
        cmd = [args.batchbench, "--links", links, "--threads", str(args.threads), "--delay", str(mode["delay"]),
               "--scripts", str(mode["js"]), "--dismiss-banners", str(mode["consent"]), "--images", out]
        if mode["delay"] > 0:
            cmd += ["--fast-delay", str(mode["fast"])]
        if args.endpoints:
            cmd += ["--endpoints", args.endpoints]
        if args.browser_args:
            cmd += ["--browser-args", args.browser_args]
        return cmd
    if side == "F":
        return [sys.executable, os.path.join(ROOT, "bench", "trace", "floor.py"), "--links", links, "--out", out,
                "--concurrency", str(args.threads), "--delay", str(mode["delay"]), "--js", str(mode["js"])]
    cmd = ["node", os.path.join(CAPTURE, "peer_capture.js"), "--links", links, "--out", out,
           "--concurrency", str(args.threads), "--delay", str(mode["delay"]), "--raw", "1", "--js", str(mode["js"])]
    if side == "V":
        cmd += ["--vt", "1"]
    return cmd


def last_json(text):
    for line in reversed(text.splitlines()):
        line = line.strip()
        if line.startswith("{"):
            try:
                return json.loads(line)
            except ValueError:
                pass
    return {}


def machine_busy_ms():
    """Busy processor time of the whole machine so far: user, nice, system, irq, softirq, steal."""
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    return sum(fields[i] for i in (0, 1, 2, 5, 6, 7)) * 1000.0 / os.sysconf("SC_CLK_TCK")


def run_one(side, mode, rep, args, links, manifest, record_dir):
    name = "%s-%s" % (side, mode["name"].replace(":", "-"))
    out = os.path.join(record_dir, "out", name)
    subprocess.run(["rm", "-rf", out], check=True)
    os.makedirs(out)
    cmd = command(side, mode, args, links, out)
    env = dict(os.environ, QT_QPA_PLATFORM=os.environ.get("QT_QPA_PLATFORM", "offscreen"))
    cpu = None
    load = os.getloadavg()[0]
    busy_before = machine_busy_ms()
    start = time.monotonic()
    if args.trace or args.tree:
        if args.trace:
            os.makedirs(args.trace, exist_ok=True)
            cmd += ["--trace", os.path.join(os.path.abspath(args.trace), "%s-%d.json" % (name, rep))]
        returncode, stdout, stderr, cpu = proctree.run(cmd, env=env)
    else:
        proc = subprocess.run(cmd, capture_output=True, text=True, env=env)
        returncode, stdout, stderr = proc.returncode, proc.stdout, proc.stderr
    wall = time.monotonic() - start
    busy = machine_busy_ms() - busy_before
    summary = last_json(stdout)
    check = check_thumbs.check(out, manifest)
    pages = check["expected"]
    record = {"side": side, "mode": mode["name"], "rep": rep, "exit": returncode, "wall_s": round(wall, 3),
              "pages_per_s": round(pages / wall, 3), "load": round(load, 2), "summary": summary, "check": check}
    if args.machine:
        record["machine_ms_per_page"] = round(busy / pages, 1)
    if cpu is not None:
        record["cpu_ms_per_page"] = {k: round(v / pages, 1) for k, v in cpu.items() if k != "processes"}
    if returncode != 0:
        record["stderr_tail"] = stderr[-2000:]
    return record


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--links")
    ap.add_argument("--modes", default="d0:js0,d0:js1,d1000:js1")
    ap.add_argument("--threads", type=int, default=4)
    ap.add_argument("--batchbench", default=os.path.join(ROOT, "build", "bin", "batchbench"))
    ap.add_argument("--endpoints", default="", help="BrowserEndpoints for the batch side")
    ap.add_argument("--name", default="main")
    ap.add_argument("--browser-args", default="", help="more browser flags for the batch side (one string)")
    ap.add_argument("--sides", default="BAV", help="which sides to run (B, A, V, F), e.g. B for the batch alone")
    ap.add_argument("--count", type=int, default=0, help="only the first N links (a quick try)")
    ap.add_argument("--trace", default="", help="record both browsers' traces and the process trees' CPU here")
    ap.add_argument("--tree", action="store_true", help="only the process trees' CPU, without a trace")
    ap.add_argument("--machine", action="store_true", help="the whole machine's busy ms a page (idle machine)")
    ap.add_argument("--sites", type=int, default=1,
                    help="spread the generated corpus over N sites (127.0.0.1 to 127.0.0.N), up to 254")
    args = ap.parse_args()
    if not os.access(args.batchbench, os.X_OK):
        raise SystemExit("build the benchmark first (-DPICTAVO_BUILD_BENCH=ON): %s" % args.batchbench)
    if set(args.sides) - {"B"} and not os.path.isdir(os.path.join(CAPTURE, "node_modules")):
        raise SystemExit("run `PUPPETEER_SKIP_DOWNLOAD=1 npm ci` in %s first" % CAPTURE)
    modes = [parse_mode(m) for m in args.modes.split(",") if m]
    record_dir = os.path.join("/tmp/pictavo-side", args.name)
    os.makedirs(record_dir, exist_ok=True)
    server = None
    links = args.links
    if not links:
        links, server = serve_generated_corpus(record_dir, args.sites)
    links = os.path.abspath(links)
    if args.count > 0:
        with open(links) as f:
            lines = [line for line in f if line.strip() and not line.startswith("#")][:args.count]
        links = os.path.join(record_dir, "links.txt")
        with open(links, "w") as f:
            f.writelines(lines)
    manifest = manifest_for(links, not args.links, record_dir)
    records = []
    try:
        with open(os.path.join(record_dir, "runs.jsonl"), "a") as log:
            for rep in range(1, args.reps + 1):
                for mode in modes:
                    sides = ["B", "A"] + (["V"] if mode["delay"] > 0 else []) + ["F"]
                    for side in [s for s in sides if s in args.sides]:
                        record = run_one(side, mode, rep, args, links, manifest, record_dir)
                        records.append(record)
                        log.write(json.dumps(record) + "\n")
                        log.flush()
                        c = record["check"]
                        stall = record["summary"].get("longest_stall_ms")
                        print("%-2s %-12s rep %d  %6.2f pages/s  exit %d  present %d/%d  120x90 %d  blank %d  "
                              "js changed %d/%d%s" % (side, mode["name"], rep, record["pages_per_s"], record["exit"],
                                                     c["present"], c["expected"], c["size_120x90"], c["blank"],
                                                     c["js_change_captured"], c["js_pages"],
                                                     "  longest stall %s ms" % stall if stall is not None else ""),
                              flush=True)
                        if "machine_ms_per_page" in record:
                            print("   machine busy ms/page: %.1f" % record["machine_ms_per_page"], flush=True)
                        if "cpu_ms_per_page" in record:
                            print("   CPU ms/page (load %.1f): %s" % (record["load"], "  ".join(
                                "%s %.1f" % (k, record["cpu_ms_per_page"].get(k, 0)) for k in ROLES)), flush=True)
    finally:
        if server:
            server.kill()
    def median_of(side, mode, key):
        values = [r[key] for r in records if r["side"] == side and r["mode"] == mode["name"] and key in r]
        return statistics.median(values) if values else None

    fmt = lambda v: "%.2f" % v if v else "-"  # noqa: E731
    ratio = lambda a, b: "%.2fx" % (a / b) if a and b else "-"  # noqa: E731
    print("\n| mode | B pages/s | A pages/s | V pages/s | F pages/s | B/A | B/V | B longest stall ms |")
    print("|---|---|---|---|---|---|---|---|")
    for mode in modes:
        med = {side: median_of(side, mode, "pages_per_s") for side in "BAVF"}
        stalls = [r["summary"].get("longest_stall_ms", 0) for r in records if r["side"] == "B" and r["mode"] == mode["name"]]
        print("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
            mode["name"], fmt(med["B"]), fmt(med["A"]), fmt(med["V"]), fmt(med["F"]), ratio(med["B"], med["A"]),
            ratio(med["B"], med["V"]), max(stalls) if stalls else "-"))
    if args.machine:
        # A lower figure is better here, so the ratios are the other side's over ours.
        print("\nMachine busy ms a page, medians\n")
        print("| mode | B | A | V | F | A/B | V/B | A/F | V/F |")
        print("|---|---|---|---|---|---|---|---|---|")
        for mode in modes:
            med = {side: median_of(side, mode, "machine_ms_per_page") for side in "BAVF"}
            print("| %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
                mode["name"], *(("%.1f" % med[side]) if med[side] else "-" for side in "BAVF"),
                ratio(med["A"], med["B"]), ratio(med["V"], med["B"]), ratio(med["A"], med["F"]),
                ratio(med["V"], med["F"])))
    if args.trace or args.tree:
        print("\nCPU ms per page, medians (program = batchbench or node)\n")
        print("| mode | side | " + " | ".join(ROLES) + " |")
        print("|---|---|" + "---|" * len(ROLES))
        for mode in modes:
            for side in "BAVF":
                rows = [r["cpu_ms_per_page"] for r in records
                        if r["side"] == side and r["mode"] == mode["name"] and "cpu_ms_per_page" in r]
                if rows:
                    print("| %s | %s | %s |" % (mode["name"], side, " | ".join(
                        "%.1f" % statistics.median(row.get(k, 0) for row in rows) for k in ROLES)))


if __name__ == "__main__":
    main()
