#!/usr/bin/env bash
# Text recognition speed of `dorvex ocr` against the `tesseract` command on the same pages in
# the same run: the ten letters of the recognition corpus (A4, 200 and 300 dpi, four CJK
# fonts), one process each over all pages, one core, OMP_THREAD_LIMIT=1.
#   bench/ocr.sh [BUILD_DIR] [ROUNDS]     (defaults: build, 1)
# dorvex reads each page as a letter: levelling, one-column layout, recognition (orientation
# detection only for a page that reads badly),
# characters placed on the ink, fields parsed. The peers: tesseract with the same one-column
# layout (--psm 4, no orientation detection) and with orientation detection and automatic
# layout (--psm 1).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
rounds=${2:-1}
export OMP_THREAD_LIMIT=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus=$build/tests/ocr-corpus
[ -f "$corpus/pages.txt" ] || { corpus=$work/corpus; tests/ocr/make_ocr_corpus.sh "$corpus" > /dev/null; }
pages=()
while IFS='|' read -r file _; do pages+=("$corpus/$file"); done < "$corpus/pages.txt"
count=${#pages[@]}
printf '%s\n' "${pages[@]}" > "$work/list.txt"

seconds() {  # seconds COMMAND...: wall time of the best of $rounds runs
  local best="" start end t
  for _ in $(seq 1 "$rounds"); do
    start=$(date +%s%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s%N)
    t=$(( end - start ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  awk -v t="$best" -v n="$count" 'BEGIN { printf "%.3f", t / 1e9 / n }'
}

# Start-up alone (loading chi_tra), so that the per-page figures can be told apart from it.
"$(command -v convert)" -size 64x64 xc:white -type bilevel "$work/white.tif"
startup_dorvex=$(count=1 seconds taskset -c 0 "$build/apps/dorvex" ocr "$work/white.tif")
startup_tess=$(count=1 seconds taskset -c 0 tesseract "$work/white.tif" - -l chi_tra --psm 4)

dorvex=$(seconds taskset -c 0 "$build/apps/dorvex" ocr --json "${pages[@]}")
tess4=$(seconds taskset -c 0 tesseract "$work/list.txt" - -l chi_tra --psm 4)
tess1=$(seconds taskset -c 0 tesseract "$work/list.txt" - -l chi_tra --psm 1)

awk -v n="$count" -v d="$dorvex" -v t4="$tess4" -v t1="$tess1" -v sd="$startup_dorvex" -v st="$startup_tess" 'BEGIN {
  printf "text recognition of %d generated letter pages (A4, 200/300 dpi), one core, OMP_THREAD_LIMIT=1\n", n
  printf "  dorvex ocr (levelling, one column, ink placement, fields)     %6.3f s/page\n", d
  printf "  tesseract --psm 4 (one column)                               %6.3f s/page\n", t4
  printf "  tesseract --psm 1 (orientation, automatic layout)            %6.3f s/page\n", t1
  printf "  ratio dorvex / tesseract --psm 4                             %6.2f x   (target <= 1.1)\n", d / t4
  printf "  ratio dorvex / tesseract --psm 1                             %6.2f x\n", d / t1
  printf "  start-up, one blank page: dorvex %.3f s, tesseract %.3f s (in the figures above once per run)\n", sd, st
}'
