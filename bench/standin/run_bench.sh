#!/bin/sh
# One controller against a farm of browser machines played by the DevTools stand-in: the whole batch
# run (thumbnails with the default settings, run report, links list in a list view) over generated
# links, spread over the stand-in's ports, ThreadsCount = ports x captures per port.
#
#   bench/standin/run_bench.sh [-n 20000] [-p 20] [-c 4] [-l 300] [-b 19300] [-m 2000] [-d PORT:N] [-f] [-- batchbench args]
#
# -n links, -p ports (browser machines), -c captures in flight per port, -l the stand-in's latency
# in ms, -b its first port, -m print memory every so many links, -d drop PORT after its N-th
# screenshot, -f full-size pictures whatever scale the capture asks (the controller's worst case).
# Run from the source tree after building devtoolsstandin and batchbench into build/bin.
set -eu
links=20000 ports=20 per=4 latency=300 base=19300 memory=2000 drop="" full=""
while getopts n:p:c:l:b:m:d:f option; do
    case $option in
    n) links=$OPTARG ;; p) ports=$OPTARG ;; c) per=$OPTARG ;; l) latency=$OPTARG ;;
    b) base=$OPTARG ;; m) memory=$OPTARG ;; d) drop=$OPTARG ;; f) full=--full-size ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[ "${1:-}" = "--" ] && shift
bin=${PICTAVO_BIN:-build/bin}
work=$(mktemp -d /tmp/standin-bench.XXXXXX)
standin_pid=""
cleanup() {
    [ -n "$standin_pid" ] && kill "$standin_pid" 2>/dev/null && wait "$standin_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# IDs name the thumbnail files; every link is on one site, so no two pages count as one parking
# template however alike the stand-in's pictures are.
awk -v n="$links" 'BEGIN { for (i = 1; i <= n; i++) printf "%d|http://pages.test/p/%d.html\r\n", i, i }' \
    >"$work/links.txt"

"$bin/devtoolsstandin" --ports "$ports" --base-port "$base" --latency "$latency" ${drop:+--drop "$drop"} $full \
    >"$work/standin.log" 2>&1 &
standin_pid=$!
until grep -q listening "$work/standin.log"; do
    kill -0 "$standin_pid" 2>/dev/null || { cat "$work/standin.log"; exit 1; }
    sleep 0.1
done

endpoints=""
i=0
while [ "$i" -lt "$ports" ]; do
    endpoints="$endpoints http://127.0.0.1:$((base + i))"
    i=$((i + 1))
done

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
QT_QPA_PLATFORM=offscreen "$bin/batchbench" --links "$work/links.txt" --threads $((ports * per)) \
    --endpoints "$endpoints" --report "$work/report.csv" --memory-every "$memory" --view "$@" | tee "$work/run.jsonl"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
kill "$standin_pid" && wait "$standin_pid" || true
standin_pid=""
grep -v listening "$work/standin.log" || true

python3 - "$work/run.jsonl" "$work/report.csv" "$links" "$memory" <<'PY'
import csv, json, sys
lines = [json.loads(l) for l in open(sys.argv[1]) if l.startswith("{")]
run = [l for l in lines if l["measure"] == "run"][-1]
memory = [l["pss_kb"] for l in lines if l["measure"] == "memory"]
with open(sys.argv[2], newline="", encoding="utf-8") as f:
    records = list(csv.DictReader(f))
outcomes = {}
for r in records:
    outcomes[r["outcome"]] = outcomes.get(r["outcome"], 0) + 1
print(f"links/s {run['links_per_s']:.1f}  longest stall {run['longest_stall_ms']} ms  "
      f"most CPU in one event {run['longest_event_cpu_ms']:.1f} ms  own CPU {run['own_cpu_ms_per_link']:.2f} ms/link")
print(f"report: {len(records)} records of {sys.argv[3]} links, distinct lines {len({r['line'] for r in records})}, "
      f"outcomes {outcomes}")
if memory:
    print(f"PSS of the process tree every {sys.argv[4]} links (KB): {memory}")
if len(memory) >= 3:
    half = len(memory) // 2
    growth = (memory[-1] - memory[half]) * 1024 / ((len(memory) - 1 - half) * int(sys.argv[4]))
    print(f"growth over the second half: {growth:.0f} bytes per link")
PY
