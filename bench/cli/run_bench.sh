#!/usr/bin/env bash
# `pictavo run` (C) against the window's batch run as the batch benchmark drives it (W), over the
# capture benchmark's 200-page corpus at ThreadsCount 4, DelayTime 0, alternating W C W C in one
# series. Each run is a fresh process, timed from outside (start-up and browser start included),
# and each keeps its thumbnails, which are then compared.
#
#   bench/cli/run_bench.sh [-r REPS] [-t THREADS] [-b BUILD_DIR]
#
# Needs a build with -DPICTAVO_BUILD_BENCH=ON (batchbench) and the pictavo target. The corpus is
# generated and served on 127.0.0.1:18865. Results: /tmp/pictavo-bench/cli/runs.tsv and a table.
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT_DIR=$(cd "$HERE/../.." && pwd)
REPS=3
THREADS=4
BUILD=$ROOT_DIR/build
while getopts "r:t:b:" opt; do
  case "$opt" in
    r) REPS=$OPTARG ;; t) THREADS=$OPTARG ;; b) BUILD=$OPTARG ;;
    *) echo "see the header of $0" >&2; exit 2 ;;
  esac
done
for program in "$BUILD/bin/batchbench" "$BUILD/bin/pictavo"; do
  [ -x "$program" ] || { echo "build it first: $program" >&2; exit 1; }
done
CAPTURE=$ROOT_DIR/bench/capture
OUT=/tmp/pictavo-bench/cli
rm -rf "$OUT"
mkdir -p "$OUT"

[ -f "$CAPTURE/corpus/links.txt" ] || python3 "$CAPTURE/gen_corpus.py" >/dev/null
SERVER_PID=""
if ! curl -sf http://127.0.0.1:18865/__stats >/dev/null; then
  python3 "$CAPTURE/serve.py" >"$OUT/serve.log" 2>&1 &
  SERVER_PID=$!
  trap 'kill "$SERVER_PID" 2>/dev/null || true' EXIT
  for _ in $(seq 1 50); do curl -sf http://127.0.0.1:18865/__stats >/dev/null && break; sleep 0.1; done
fi
RULES='"--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"'
LINKS=$(wc -l <"$CAPTURE/corpus/links.txt")

now() { date +%s.%N; }
printf 'run\tpeer\tseconds\tlinks_per_s\tthumbnails\n' >"$OUT/runs.tsv"
for rep in $(seq 1 "$REPS"); do
  # W: the window's run, as the batch benchmark drives it.
  images="$OUT/W$rep"
  mkdir -p "$images"
  start=$(now)
  QT_QPA_PLATFORM=offscreen "$BUILD/bin/batchbench" --links "$CAPTURE/corpus/links.txt" --threads "$THREADS" \
    --delay 0 --images "$images" >"$OUT/W$rep.json"
  end=$(now)
  printf 'W%s\tW\t%s\t%s\t%s\n' "$rep" "$(echo "$end - $start" | bc)" "$(echo "$LINKS / ($end - $start)" | bc -l)" \
    "$(ls "$images" | grep -c '\.jpg$')" >>"$OUT/runs.tsv"

  # C: the command line with the batch benchmark's settings, on an empty settings store.
  folder="$OUT/C$rep"
  mkdir -p "$folder/data"
  cp "$CAPTURE/corpus/links.txt" "$folder/data/LinksInfo.txt"
  start=$(now)
  XDG_CONFIG_HOME="$folder/config" PICTAVO_BROWSER_FLAGS="$RULES" "$BUILD/bin/pictavo" --folder "$folder" \
    --set ThreadsCount="$THREADS" --set DelayTime=0 --set SnapWidth=1024 --set SnapHeight=768 \
    --set SnapDimension=1 run >"$OUT/C$rep.out" 2>"$OUT/C$rep.err" || true
  end=$(now)
  printf 'C%s\tC\t%s\t%s\t%s\n' "$rep" "$(echo "$end - $start" | bc)" "$(echo "$LINKS / ($end - $start)" | bc -l)" \
    "$(ls "$folder/snapshots" | grep -c '\.jpg$')" >>"$OUT/runs.tsv"
done
column -t "$OUT/runs.tsv"

# The same thumbnails: the same files, every one 120 x 90, and how close their pixels are.
python3 "$HERE/compare_thumbs.py" "$OUT/W1" "$OUT/C1/snapshots"
