#!/usr/bin/env bash
# Side-by-side capture benchmark: this program's capture engine (P) against the plain
# puppeteer-core script (A), same browser, same concurrency, same 120x90 JPEG output, run
# alternately P A P A ... under measure.py (process-tree CPU and memory).
#
#   bench/capture/run_bench.sh [-r REPS] [-c "1 2 4 8"] [-d DELAY_MS] [-n NAME] [-p "P A"]
#   peers: P this program, H this program told the thumbnail size (setThumbnailHint), A puppeteer-core
#   bench/capture/run_bench.sh -s 2000        # soak: 2000 captures, browser memory every 200
#
# Needs: the benchmark built (cmake -S bench/capture -B build-bench -G Ninja &&
# cmake --build build-bench), node, and `npm ci` run in bench/capture (puppeteer-core, which
# never downloads a browser). The corpus is generated and served on 127.0.0.1:18865 here.
# Results: /tmp/pictavo-bench/NAME/runs.jsonl, and a table on stdout.
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT_DIR=$(cd "$HERE/../.." && pwd)
BENCH=${PICTAVO_BENCH:-$ROOT_DIR/build-bench/capturebench}
REPS=2
CONCS="1 2 4 8"
DELAY=0
NAME=main
PEERS="P A"
SOAK=0
while getopts "r:c:d:n:p:s:" opt; do
  case "$opt" in
    r) REPS=$OPTARG ;; c) CONCS=$OPTARG ;; d) DELAY=$OPTARG ;; n) NAME=$OPTARG ;; p) PEERS=$OPTARG ;;
    s) SOAK=$OPTARG ;;
    *) echo "see the header of $0" >&2; exit 2 ;;
  esac
done
[ -x "$BENCH" ] || { echo "build the benchmark first: $BENCH" >&2; exit 1; }
ROOT=/tmp/pictavo-bench/$NAME
mkdir -p "$ROOT/series"

[ -f "$HERE/corpus/links.txt" ] || python3 "$HERE/gen_corpus.py" >/dev/null
SERVER_PID=""
if ! curl -sf http://127.0.0.1:18865/__stats >/dev/null; then
  python3 "$HERE/serve.py" >"$ROOT/serve.log" 2>&1 &
  SERVER_PID=$!
  trap 'kill "$SERVER_PID" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do curl -sf http://127.0.0.1:18865/__stats >/dev/null && break; sleep 0.1; done
fi
LINKS=$HERE/corpus/links.txt

if [ "$SOAK" -gt 0 ]; then
  "$BENCH" --links "$LINKS" --out "$ROOT/out/soak" --concurrency 4 --delay "$DELAY" --soak "$SOAK" \
      --report-every 200 | tee "$ROOT/soak.jsonl"
  exit 0
fi

peer_cmd() {  # peer conc outdir
  case "$1" in
    P) echo "$BENCH" --links "$LINKS" --out "$3" --concurrency "$2" --delay "$DELAY" ;;
    H) echo "$BENCH" --links "$LINKS" --out "$3" --concurrency "$2" --delay "$DELAY" --hint ;;
    A) echo node "$HERE/peer_capture.js" --links "$LINKS" --out "$3" --concurrency "$2" --delay "$DELAY" ;;
  esac
}

one_run() {  # peer conc rep
  local peer=$1 c=$2 rep=$3 label="$1-c$2-d$DELAY-r$3" out="$ROOT/out/$1-c$2"
  rm -rf "$out"; mkdir -p "$out"
  # shellcheck disable=SC2046
  python3 "$HERE/measure.py" --label "$label" --results "$ROOT/run.tmp" --interval 0.5 \
      --series-dir "$ROOT/series" --server-pid "${SERVER_PID:-0}" \
      --stdout-file "$ROOT/$label.out" --stderr-file "$ROOT/$label.err" \
      -- $(peer_cmd "$peer" "$c" "$out") > /dev/null
  python3 - "$ROOT/run.tmp" "$ROOT/runs.jsonl" "$peer" "$c" "$rep" "$DELAY" "$(python3 "$HERE/check_thumbs.py" "$out")" <<'PY'
import json, sys
tmp, results, peer, c, rep, delay, check = sys.argv[1:]
rec = json.loads(open(tmp).read().strip().splitlines()[-1])
rec.update(peer=peer, conc=int(c), rep=int(rep), delay=int(delay), check=json.loads(check))
open(results, "a").write(json.dumps(rec) + "\n")
s = rec.get("peer_summary") or {}
extra = ""
if peer in ("P", "H"):
    extra = "  program cpu %.2fs = %.1f%% of browser %.1fs" % (
        s.get("program_cpu_s", 0), 100 * s.get("program_cpu_share", 0), s.get("browser_cpu_s", 0))
print("%-14s %6.2f p/s  ok %s/%s  wall %6.2fs  tree cpu %6.1fs  peak rss %5.0f MB  pss %5.0f MB  120x90 %s%s"
      % (rec["label"], s.get("pages", 0) / rec["wall_s"], s.get("ok"), s.get("pages"), rec["wall_s"],
         rec["tree_cpu_s"], rec["peak_rss_sum_mb"], rec["peak_pss_sum_mb"], rec["check"]["size_120x90"], extra),
      flush=True)
PY
  rm -f "$ROOT/run.tmp"
}

for rep in $(seq 1 "$REPS"); do
  for c in $CONCS; do
    for p in $PEERS; do one_run "$p" "$c" "$rep"; done
  done
done

python3 - "$ROOT/runs.jsonl" <<'PY'
import json, statistics, sys
rows = {}
for line in open(sys.argv[1]):
    r = json.loads(line)
    s = r.get("peer_summary") or {}
    rows.setdefault((r["delay"], r["conc"], r["peer"]), []).append(s.get("pages", 0) / r["wall_s"])
print("\n| delay ms | pages at once | this program p/s | with thumbnail hint p/s | puppeteer-core p/s | runs each |")
print("|---|---|---|---|---|---|")
for (d, c) in sorted({(d, c) for d, c, _ in rows}):
    p, h, a = rows.get((d, c, "P"), []), rows.get((d, c, "H"), []), rows.get((d, c, "A"), [])
    fmt = lambda v: "%.2f" % statistics.median(v) if v else "-"
    print("| %d | %d | %s | %s | %s | %d |" % (d, c, fmt(p), fmt(h), fmt(a), max(len(p), len(h), len(a))))
PY
