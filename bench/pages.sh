#!/usr/bin/env bash
# Page processing speed against unpaper, on generated 300-dpi A4 letter pages (text, a barcode),
# one core: straight pages (a skew of up to 3 degrees) and pages as they come off a feeder
# (skewed 1 to 6 degrees either way, with dust).
#   bench/pages.sh [BUILD_DIR] [PAGES]     (defaults: build, 24)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
count=${2:-24}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source bench/letters.sh
mkdir -p "$work/straight" "$work/feeder"
make_letters "$work/straight" "$count"
make_letters "$work/feeder" "$count" feeder
list() {  # list SET PREFIX SUFFIX
  local i
  for i in $(seq 1 "$count"); do printf '%s\n' "$work/$1/$2$i$3"; done
}

# unpaper with its defaults on the straight pages (as PGM, which it reads).
start=$(date +%s%N)
unpaper -q --overwrite --start-sheet 1 --end-sheet "$count" "$work/straight/page%d.pgm" "$work/unpaper%d.pgm" 2> /dev/null
end=$(date +%s%N)
unpaper_ms=$(awk -v s="$start" -v e="$end" -v n="$count" 'BEGIN { printf "%.1f", (e - s) / 1e6 / n }')

# The command line as a clerk's script would run it: 1-bit G4 letters in, cleaned G4 files out.
clean() {  # clean SET: sets cli_ms and cli_codes
  rm -rf "$work/cleaned"
  mkdir -p "$work/cleaned"
  mapfile -t scans < <(list "$1" scan .tif)
  start=$(date +%s%N)
  taskset -c 0 "$build/apps/dorvex" clean --set Deskew=1 --set DeskewAngle=10 --set BorderRemove=1 --set DotRemove=1 \
    --set UseBarcode=1 --set WPageRemove=1 -o "$work/cleaned" "${scans[@]}" > "$work/clean-$1.jsonl"
  end=$(date +%s%N)
  cli_ms=$(awk -v s="$start" -v e="$end" -v n="$count" 'BEGIN { printf "%.1f", (e - s) / 1e6 / n }')
  cli_codes=$(grep -c '"barcode":"11500000' "$work/clean-$1.jsonl" || true)
}
clean straight
straight_ms=$cli_ms straight_codes=$cli_codes
clean feeder
feeder_ms=$cli_ms feeder_codes=$cli_codes

mapfile -t pages < <(list straight page .png)
taskset -c 0 "$build/bench/bench_pages" "$work" "${pages[@]}" > "$work/result"
get() { sed -n "s/^$1 //p" "$work/result"; }
awk -v cli="$straight_ms" -v codes="$straight_codes" -v fcli="$feeder_ms" -v fcodes="$feeder_codes" \
    -v bw="$(get bw_ms)" -v gr="$(get grey_ms)" -v co="$(get colour_ms)" -v up="$unpaper_ms" -v n="$count" \
    -v r2="$(get rss_page2_kib)" -v r500="$(get rss_page500_kib)" -v a2="$(get append_page2_ms)" -v a500="$(get append_page500_ms)" 'BEGIN {
  printf "page processing on %d generated 300-dpi A4 letter pages, one core\n", n
  printf "  dorvex clean, 1-bit G4 in and out (deskew 10, borders, specks, blank test, whole-page barcode),\n"
  printf "  process start included:\n"
  printf "    straight pages (-3 to 3 degrees), %2d of %2d barcodes found                %7.1f ms/page\n", codes, n, cli
  printf "    feeder pages (1 to 6 degrees either way, dust), %2d of %2d barcodes found  %7.1f ms/page  (target <= 20)\n", fcodes, n, fcli
  printf "  ratio unpaper/dorvex clean (straight pages)                                 %7.1f x\n", up / cli
  printf "  black and white (1 bit, deskew, borders, despeckle, blank test, barcode, G4)  %7.1f ms/page  (target <= 21)\n", bw
  printf "  unpaper with its defaults                                                   %7.1f ms/page\n", up
  printf "  ratio unpaper/dorvex                                                        %7.1f x     (target >= 100)\n", up / bw
  printf "  grey (deskew, despeckle, blank test, barcode, LZW)                          %7.1f ms/page  (target <= 50)\n", gr
  printf "  colour (JPEG decoded, deskew, despeckle, blank test, barcode, JPEG)         %7.1f ms/page  (target <= 120)\n", co
  printf "appending to one G4 document\n"
  printf "  resident memory at page 2 / page 500    %.1f / %.1f MiB\n", r2 / 1024, r500 / 1024
  printf "  time to append page 2 / page 500        %.2f / %.2f ms\n", a2, a500
}'
