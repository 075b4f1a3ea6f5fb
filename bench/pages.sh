#!/usr/bin/env bash
# Page processing speed against unpaper, on generated 300-dpi A4 letter pages (text, a skew of
# a few degrees, a barcode), one core.
#   bench/pages.sh [BUILD_DIR] [PAGES]     (defaults: build, 24)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
count=${2:-24}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source bench/letters.sh
make_letters "$work" "$count"
pages=()
scans=()
for i in $(seq 1 "$count"); do
  pages+=("$work/page$i.png")
  scans+=("$work/scan$i.tif")
done

# unpaper with its defaults on the same pages (as PGM, which it reads).
start=$(date +%s%N)
unpaper -q --overwrite --start-sheet 1 --end-sheet "$count" "$work/page%d.pgm" "$work/unpaper%d.pgm" 2> /dev/null
end=$(date +%s%N)
unpaper_ms=$(awk -v s="$start" -v e="$end" -v n="$count" 'BEGIN { printf "%.1f", (e - s) / 1e6 / n }')

# The command line as a clerk's script would run it: 1-bit G4 letters in, cleaned G4 files out.
mkdir -p "$work/cleaned"
start=$(date +%s%N)
taskset -c 0 "$build/apps/dorvex" clean --set Deskew=1 --set DeskewAngle=10 --set BorderRemove=1 --set DotRemove=1 \
  --set UseBarcode=1 --set WPageRemove=1 -o "$work/cleaned" "${scans[@]}" > "$work/clean.jsonl"
end=$(date +%s%N)
cli_ms=$(awk -v s="$start" -v e="$end" -v n="$count" 'BEGIN { printf "%.1f", (e - s) / 1e6 / n }')
cli_codes=$(grep -c '"barcode":"11500000' "$work/clean.jsonl" || true)

taskset -c 0 "$build/bench/bench_pages" "$work" "${pages[@]}" > "$work/result"
get() { sed -n "s/^$1 //p" "$work/result"; }
awk -v cli="$cli_ms" -v codes="$cli_codes" -v bw="$(get bw_ms)" -v gr="$(get grey_ms)" -v co="$(get colour_ms)" -v up="$unpaper_ms" -v n="$count" \
    -v r2="$(get rss_page2_kib)" -v r500="$(get rss_page500_kib)" -v a2="$(get append_page2_ms)" -v a500="$(get append_page500_ms)" 'BEGIN {
  printf "page processing on %d generated 300-dpi A4 letter pages, one core\n", n
  printf "  dorvex clean, 1-bit G4 in and out (deskew 10, borders, specks, blank test,\n"
  printf "  whole-page barcode, %2d of %2d found), process start included            %7.1f ms/page  (target <= 20)\n", codes, n, cli
  printf "  ratio unpaper/dorvex clean                                                  %7.1f x\n", up / cli
  printf "  black and white (1 bit, deskew, borders, despeckle, blank test, barcode, G4)  %7.1f ms/page  (target <= 21)\n", bw
  printf "  unpaper with its defaults                                                   %7.1f ms/page\n", up
  printf "  ratio unpaper/dorvex                                                        %7.1f x     (target >= 100)\n", up / bw
  printf "  grey (deskew, despeckle, blank test, barcode, LZW)                          %7.1f ms/page\n", gr
  printf "  colour (deskew, despeckle, blank test, barcode, JPEG)                       %7.1f ms/page\n", co
  printf "appending to one G4 document\n"
  printf "  resident memory at page 2 / page 500    %.1f / %.1f MiB\n", r2 / 1024, r500 / 1024
  printf "  time to append page 2 / page 500        %.2f / %.2f ms\n", a2, a500
}'
