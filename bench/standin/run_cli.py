#!/usr/bin/env python3
"""`pictavo run` itself (no window) against the DevTools stand-in: the command line's memory per link.

  python3 bench/standin/run_cli.py [--links 40000] [--ports 20] [--per 4] [--latency 300]
                                   [--every 5000] [--build build] [--out /tmp/pictavo-bench/cli-standin]

Starts build/bin/devtoolsstandin on --ports ports, writes a links database of --links links (one site,
so that no look parks anything), and runs `pictavo --folder ... --set BrowserEndpoints=... run --json`
with ThreadsCount = ports x per. Every --every links it prints the PSS of pictavo's process (the
stand-in is not its child) and glibc's heap in use is not visible from outside, so only PSS. Ends with
links per second, the outcomes, and the growth per link over the second half.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def pss_kib(pid):
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--links", type=int, default=40000)
    ap.add_argument("--ports", type=int, default=20)
    ap.add_argument("--per", type=int, default=4)
    ap.add_argument("--latency", type=int, default=300)
    ap.add_argument("--base", type=int, default=19300)
    ap.add_argument("--every", type=int, default=5000)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", default="/tmp/pictavo-bench/cli-standin")
    args = ap.parse_args()

    shutil.rmtree(args.out, ignore_errors=True)
    folder = os.path.join(args.out, "folder")
    os.makedirs(os.path.join(folder, "data"))
    with open(os.path.join(folder, "data", "LinksInfo.txt"), "w") as f:
        for n in range(1, args.links + 1):
            f.write("%d|http://pages.test/p/%d.html\r\n" % (n, n))
    log = open(os.path.join(args.out, "standin.log"), "w+")
    standin = subprocess.Popen([os.path.join(args.build, "bin", "devtoolsstandin"), "--ports", str(args.ports),
                                "--base-port", str(args.base), "--latency", str(args.latency)], stdout=log, stderr=log)
    try:
        for _ in range(100):
            log.seek(0)
            if "listening" in log.read():
                break
            time.sleep(0.1)
        endpoints = " ".join("http://127.0.0.1:%d" % (args.base + i) for i in range(args.ports))
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(args.out, "config"), QT_QPA_PLATFORM="offscreen")
        command = [os.path.join(args.build, "bin", "pictavo"), "--folder", folder,
                   "--set", "ThreadsCount=%d" % (args.ports * args.per), "--set", "DelayTime=0",
                   "--set", "BrowserEndpoints=" + endpoints, "run", "--json"]
        started = time.monotonic()
        run = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, text=True)
        ended, outcomes, memory = 0, {}, []
        for line in run.stdout:
            if not line.startswith("{"):
                continue
            ended += 1
            outcome = json.loads(line).get("outcome", "?")
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
            if ended % args.every == 0:
                memory.append(pss_kib(run.pid))
                print(json.dumps({"links": ended, "pss_kb": memory[-1]}), flush=True)
        code = run.wait()
        seconds = time.monotonic() - started
    finally:
        standin.terminate()
        standin.wait()
    print("exit %d  %d links in %.0f s: %.1f links/s  outcomes %s" % (code, ended, seconds, ended / seconds, outcomes))
    if len(memory) >= 3:
        half = len(memory) // 2
        growth = (memory[-1] - memory[half]) * 1024 / ((len(memory) - 1 - half) * args.every)
        print("PSS (KB) every %d links: %s; growth over the second half: %.0f bytes a link" % (args.every, memory, growth))
    return 0 if code == 0 and ended == args.links else 1


if __name__ == "__main__":
    sys.exit(main())
