#!/usr/bin/env bash
# A scanning session against page processing alone, on the same generated 300-dpi A4 letter
# pages, one core: `dorvex scan --no-upload` on the file feeder (clean-up, barcode splitting,
# storing, tree, recovery file after every page) against `dorvex clean` of the same pages.
# Then the same session with recognition on, on both cores (the window's thread scans while a
# background worker reads the letters): against the longer of scanning alone and recognition
# alone (`dorvex ocr` of the first pages the scan stored, one engine, as the worker reads them),
# with the longest stretch the window's thread went without serving its events, and against
# the run that reads the letters itself after the scan (--ocr-workers 0), whose fields must be
# the same; with the feeder at full speed and at a scanner's pace.
# Each figure of the second part is the best of ROUNDS runs (the machine is shared).
#   bench/session.sh [BUILD_DIR] [PAGES] [PACE] [ROUNDS]   (defaults: build, 24, 90 pages a minute, 2)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
count=${2:-24}
pace=${3:-90}
rounds=${4:-2}
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
# Twice: the file feeder as fast as it reads the files, and at a production scanner's pace
# (pages a minute), where scanning alone takes about as long as recognition alone.
export OMP_THREAD_LIMIT=1
seconds_since() { awk -v s="$1" -v e="$(date +%s%N)" 'BEGIN { printf "%.2f", (e - s) / 1e9 }'; }
timing() { sed -n "s/.*\"$2\":\([0-9.]*\).*/\1/p" "$work/$1.err" | tail -1; }
best() {  # best SECONDS...: the least
  printf '%s\n' "$@" | sort -g | head -1
}
session() {  # session NAME CONFIG [ARGS...]: the best of $rounds scans, each into a fresh temporary folder
  local name=$1 config=$2 start times=()
  shift 2
  for _ in $(seq 1 "$rounds"); do
    rm -rf "$work/tmp-$name"
    mkdir -p "$work/tmp-$name"
    start=$(date +%s%N)
    DORVEX_TMPDIR=$work/tmp-$name XDG_CONFIG_HOME=$config "$build/apps/dorvex" scan --device "file:$work/feed" \
      --no-upload --json --timing "${settings[@]}" --set EnableScanFix=1 --set DPI=300 "$@" > "$work/$name.jsonl" 2> "$work/$name.err"
    times+=("$(seconds_since "$start")")
  done
  best "${times[@]}"
}
mkdir -p "$work/config-paced/Dorvex"
printf '[Source file:%s]\npages-per-minute=%d\n' "$work/feed" "$pace" > "$work/config-paced/Dorvex/Dorvex.ini"

scan_s=$(session alone "$work/config")
# The first page of every document as the scan stored it (the recovery file lists the files).
mapfile -t firsts < <(DORVEX_TMPDIR=$work/tmp-alone "$build/apps/dorvex" recover --json | sed -n 's/.*"files":\["\([^"]*\)".*/\1/p')
ocr_times=()
for _ in $(seq 1 "$rounds"); do
  start=$(date +%s%N)
  "$build/apps/dorvex" ocr --json "${firsts[@]}" > "$work/ocr.jsonl"
  ocr_times+=("$(seconds_since "$start")")
done
ocr_s=$(best "${ocr_times[@]}")

report() {  # report TITLE CONFIG SUFFIX
  local title=$1 config=$2 x=$3 S T Q letters same=no
  S=$scan_s
  [ -n "$x" ] && S=$(session "alone$x" "$config")
  T=$(session "background$x" "$config" --ocr)
  Q=$(session "sequential$x" "$config" --ocr --ocr-workers 0)
  letters=$(grep -c '"words":\[{' "$work/background$x.jsonl" || true)
  cmp -s "$work/background$x.jsonl" "$work/sequential$x.jsonl" && same=yes
  awk -v title="$title" -v n="$count" -v d="${#firsts[@]}" -v l="$letters" -v S="$S" -v R="$ocr_s" -v T="$T" -v Q="$Q" \
      -v same="$same" -v w="$(timing "background$x" workers)" \
      -v a_scan="$(timing "alone$x" longestScanStepMs)" -v b_scan="$(timing "background$x" longestScanStepMs)" \
      -v b_after="$(timing "background$x" longestAfterScanStepMs)" -v q_after="$(timing "sequential$x" longestAfterScanStepMs)" \
      -v b_wait="$(timing "background$x" afterScanSeconds)" -v q_wait="$(timing "sequential$x" afterScanSeconds)" 'BEGIN {
    longer = S > R ? S : R
    printf "\nrecognition while the feeder runs, %s: %d pages, %d documents,\n", title, n, d
    printf "both cores (the window thread scans, %d background worker reads), OMP_THREAD_LIMIT=1\n", w
    printf "  scanning alone (dorvex scan, recognition off)                 %7.2f s\n", S
    printf "  recognition alone (dorvex ocr of the %2d first pages stored)    %7.2f s\n", d, R
    printf "  session with recognition on (%2d of %2d documents read)         %7.2f s   (%.2f s of it after the feeder stopped)\n", l, d, T, b_wait
    printf "  ratio session / longer of the two                             %7.2f   (target <= 1.15)\n", T / longer
    printf "  before, reading after the scan (--ocr-workers 0)              %7.2f s   ratio %.2f (%.2f s after the feeder stopped)\n", Q, Q / longer, q_wait
    printf "  the same fields as reading after the scan                     %7s\n", same
    printf "  longest window-thread step after the feeder stopped           %7.1f ms   (target <= 50; before %.1f ms)\n", b_after, q_after
    printf "  longest window-thread step during the scan: a page fed (the feeder\n"
    printf "  waits out its pace), handled and stored, as in scanning alone %7.1f ms   (scanning alone %.1f ms)\n", b_scan, a_scan
  }'
}
report "file feeder at full speed" "$work/config" ""
report "file feeder at $pace pages a minute" "$work/config-paced" "-paced"
