#!/usr/bin/env bash
# A scanning session against page processing alone, on the same generated 300-dpi A4 letter
# pages, one core: `dorvex scan --no-upload` on the file feeder (clean-up, barcode splitting,
# storing, tree, recovery file after every page) against `dorvex clean` of the same pages.
# Then the same session with recognition on, on both cores (the window's thread scans while a
# background worker reads the letters): against the longer of scanning alone and recognition
# alone (`dorvex ocr` of the first pages the scan stored, one engine, as the worker reads them),
# with the longest stretch the window's thread went without serving its events, and against
# the run that reads the letters itself after the scan (--ocr-workers 0), whose fields must be
# the same.
#   bench/session.sh [BUILD_DIR] [PAGES]     (defaults: build, 24)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
count=${2:-24}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source bench/letters.sh
make_letters "$work" "$count"
mkdir -p "$work/feed" "$work/cleaned" "$work/tmp"
for i in $(seq 1 "$count"); do cp "$work/scan$i.tif" "$work/feed/$(printf %03d "$i").tif"; done
settings=(--set Deskew=1 --set DeskewAngle=10 --set BorderRemove=1 --set DotRemove=1 --set UseBarcode=1 --set WPageRemove=1)
ms_per_page() { awk -v s="$1" -v e="$2" -v n="$count" 'BEGIN { printf "%.1f", (e - s) / 1e6 / n }'; }

start=$(date +%s%N)
taskset -c 0 "$build/apps/dorvex" clean "${settings[@]}" -o "$work/cleaned" "$work"/feed/*.tif > /dev/null
end=$(date +%s%N)
clean_ms=$(ms_per_page "$start" "$end")

start=$(date +%s%N)
DORVEX_TMPDIR=$work/tmp XDG_CONFIG_HOME=$work/config taskset -c 0 "$build/apps/dorvex" scan --device "file:$work/feed" \
  --no-upload --json "${settings[@]}" --set EnableScanFix=1 --set DPI=300 > "$work/scan.jsonl"
end=$(date +%s%N)
scan_ms=$(ms_per_page "$start" "$end")
docs=$(grep -c '"inno":"11500000' "$work/scan.jsonl" || true)

awk -v c="$clean_ms" -v s="$scan_ms" -v n="$count" -v d="$docs" 'BEGIN {
  printf "scanning session on %d generated 300-dpi A4 letter pages, one core\n", n
  printf "  dorvex clean (page processing alone)                          %7.1f ms/page\n", c
  printf "  dorvex scan --no-upload on the file feeder (%2d of %2d documents\n", d, n
  printf "  split by barcode, stored, recovery file after every page)      %7.1f ms/page\n", s
  printf "  ratio session/processing                                      %7.2f   (target <= 1.20)\n", s / c
}'

# ---- Recognition while the feeder runs: both cores, the engine's own threads off ----
export OMP_THREAD_LIMIT=1
seconds_since() { awk -v s="$1" -v e="$(date +%s%N)" 'BEGIN { printf "%.2f", (e - s) / 1e9 }'; }
timing() { sed -n "s/.*\"$2\":\([0-9.]*\).*/\1/p" "$work/$1.err" | tail -1; }
session() {  # session NAME [ARGS...]: one scan into its own temporary folder; prints its seconds
  local name=$1 start
  shift
  mkdir -p "$work/tmp-$name"
  start=$(date +%s%N)
  DORVEX_TMPDIR=$work/tmp-$name XDG_CONFIG_HOME=$work/config "$build/apps/dorvex" scan --device "file:$work/feed" \
    --no-upload --json --timing "${settings[@]}" --set EnableScanFix=1 --set DPI=300 "$@" > "$work/$name.jsonl" 2> "$work/$name.err"
  seconds_since "$start"
}
scan_s=$(session alone)
# The first page of every document as the scan stored it (the recovery file lists the files).
mapfile -t firsts < <(DORVEX_TMPDIR=$work/tmp-alone "$build/apps/dorvex" recover --json | sed -n 's/.*"files":\["\([^"]*\)".*/\1/p')
start=$(date +%s%N)
"$build/apps/dorvex" ocr --json "${firsts[@]}" > "$work/ocr.jsonl"
ocr_s=$(seconds_since "$start")
session_s=$(session background --ocr)
sequential_s=$(session sequential --ocr --ocr-workers 0)
letters=$(grep -c '"words":\[{' "$work/background.jsonl" || true)
same=no
cmp -s "$work/background.jsonl" "$work/sequential.jsonl" && same=yes

awk -v n="$count" -v d="${#firsts[@]}" -v l="$letters" -v S="$scan_s" -v R="$ocr_s" -v T="$session_s" -v Q="$sequential_s" \
    -v same="$same" -v w="$(timing background workers)" \
    -v a_scan="$(timing alone longestScanStepMs)" -v b_scan="$(timing background longestScanStepMs)" \
    -v b_after="$(timing background longestAfterScanStepMs)" -v q_after="$(timing sequential longestAfterScanStepMs)" \
    -v b_wait="$(timing background afterScanSeconds)" -v q_wait="$(timing sequential afterScanSeconds)" 'BEGIN {
  longer = S > R ? S : R
  printf "\nrecognition while the feeder runs: %d pages, %d documents, both cores (%d background worker), OMP_THREAD_LIMIT=1\n", n, d, w
  printf "  scanning alone (dorvex scan, recognition off)                 %7.2f s\n", S
  printf "  recognition alone (dorvex ocr of the %2d first pages stored)    %7.2f s\n", d, R
  printf "  session with recognition on (%2d of %2d documents read)         %7.2f s   (waiting after the feeder stopped %.2f s)\n", l, d, T, b_wait
  printf "  ratio session / longer of the two                             %7.2f   (target <= 1.15)\n", T / longer
  printf "  before: the run reads the letters after the scan              %7.2f s   ratio %.2f (waiting %.2f s)\n", Q, Q / longer, q_wait
  printf "  same fields as the run after the scan                         %7s\n", same
  printf "  longest window-thread step while the letters are read after the scan %6.1f ms   (target <= 50; before %.1f ms)\n", b_after, q_after
  printf "  longest window-thread step during the scan (a page handled)   %7.1f ms   (scanning alone %.1f ms)\n", b_scan, a_scan
}'
