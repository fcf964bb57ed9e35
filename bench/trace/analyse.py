#!/usr/bin/env python3
"""Where a run's processor time went, from the browser's own trace (batchbench --trace or
peer_capture.js --trace) and, optionally, the process tree's CPU that side_by_side.py --trace records.

  python3 bench/trace/analyse.py TRACE.json [TRACE2.json ...] --pages 200 [--runs runs.jsonl] [--top 15]

For each trace: processor ms per page by kind of process and by thread (the thread time of every
outermost "toplevel" task: each task a process runs is one), then the events that took the most of
it in renderers and in the browser, by self time (an event's thread time less its children's). With
--runs, the matching run's sampled tree CPU (which also holds the driving program: batchbench or
node) is printed beside it. Thread time is what a thread spent on a processor, so it does not grow
with the machine's load as wall time does.
"""
import argparse
import collections
import json
import os
import re


def kind_of(process_name, labels):
    name = (process_name or "").lower()
    if "renderer" in name:
        return "renderer"
    if "gpu" in name:
        return "gpu"
    if "network" in name or "network" in (labels or "").lower():
        return "network"
    if "utility" in name or "service" in name:
        return "utility"
    if "browser" in name:
        return "browser"
    return name or "unknown"


def load(path):
    with open(path) as f:
        data = json.load(f)
    return data["traceEvents"] if isinstance(data, dict) else data


def analyse(events, pages, top):
    process_names, labels, thread_names = {}, {}, {}
    spans = collections.defaultdict(list)  # (pid, tid) -> [(ts, dur, tdur, name, origin)]
    for e in events:
        ph = e.get("ph")
        if ph == "M":
            args = e.get("args", {})
            if e.get("name") == "process_name":
                process_names[e["pid"]] = args.get("name")
            elif e.get("name") == "process_labels":
                labels[e["pid"]] = args.get("labels")
            elif e.get("name") == "thread_name":
                thread_names[(e["pid"], e["tid"])] = args.get("name")
        elif ph == "X" and "tdur" in e and "dur" in e:
            args = e.get("args", {})
            mojo = args.get("chrome_mojo_event_info", {}).get("mojo_interface_tag", "")
            origin = mojo or " ".join(x for x in (os.path.basename(args.get("src_file", "")), args.get("src_func", ""))
                                      if x)
            spans[(e["pid"], e["tid"])].append(
                (e["ts"], e["dur"], e["tdur"], e.get("name", "?"), origin))
    by_kind = collections.Counter()
    by_thread = collections.Counter()
    by_origin = collections.Counter()
    self_time = {"renderer": collections.Counter(), "browser": collections.Counter()}
    processes = collections.defaultdict(set)
    for (pid, tid), items in spans.items():
        kind = kind_of(process_names.get(pid), labels.get(pid))
        processes[kind].add(pid)
        thread = re.sub(r"\d+$", "", thread_names.get((pid, tid)) or "?")
        items.sort(key=lambda s: (s[0], -s[1]))
        stack = []  # [end, tdur, name, children tdur, placed: it or an outer event has counted by origin]

        def close(entry):
            if kind in self_time:
                self_time[kind][entry[2]] += entry[1] - entry[3]

        for ts, dur, tdur, name, origin in items:
            while stack and stack[-1][0] <= ts:
                close(stack.pop())
            if not stack:
                # An outermost event: the whole of a task's thread time, counted once.
                by_kind[kind] += tdur
                by_thread[(kind, thread)] += tdur
            else:
                stack[-1][3] += tdur
            placed = bool(stack) and stack[-1][4]
            # A task is placed by the first event in it that says where it came from: the posting
            # code's file and function, or the mojo interface of a message.
            if origin and not placed:
                by_origin[(kind, (name + " " + origin).strip())] += tdur
                placed = True
            stack.append([ts + dur, tdur, name, 0, placed])
        while stack:
            close(stack.pop())
    per_page = lambda us: us / 1000.0 / pages  # noqa: E731
    print("  thread time, ms per page: " + "  ".join(
        "%s %.1f (%d processes)" % (k, per_page(v), len(processes[k])) for k, v in by_kind.most_common()))
    print("  total %.1f" % per_page(sum(by_kind.values())))
    print("  by thread:")
    for (kind, thread), v in by_thread.most_common(top):
        print("    %-9s %-28s %6.1f" % (kind, thread, per_page(v)))
    print("  tasks by kind and where they were posted from (mojo: the interface of the message):")
    for (kind, origin), v in by_origin.most_common(top):
        print("    %-9s %-70s %6.1f" % (kind, origin[:70], per_page(v)))
    for kind, counter in self_time.items():
        print("  %s events by self time, ms per page:" % kind)
        for name, v in counter.most_common(top):
            print("    %-48s %6.2f" % (name[:48], per_page(v)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("traces", nargs="+")
    ap.add_argument("--pages", type=int, default=200)
    ap.add_argument("--runs", help="side_by_side.py's runs.jsonl, for the process tree's CPU")
    ap.add_argument("--top", type=int, default=15)
    args = ap.parse_args()
    runs = {}
    if args.runs:
        with open(args.runs) as f:
            for line in f:
                r = json.loads(line)
                if "cpu_ms_per_page" in r:
                    runs["%s-%s-%d" % (r["side"], r["mode"].replace(":", "-"), r["rep"])] = r
    for path in args.traces:
        print(path)
        run = runs.get(os.path.splitext(os.path.basename(path))[0])
        if run:
            print("  process tree CPU, ms per page (load %s): %s" % (run.get("load"), "  ".join(
                "%s %.1f" % kv for kv in run["cpu_ms_per_page"].items())))
        analyse(load(path), args.pages, args.top)


if __name__ == "__main__":
    main()
