#!/usr/bin/env bash
# Text recognition speed of `dorvex ocr` against the `tesseract` command on the same pages in
# the same run: the letters of the recognition corpus (A4, 200 and 300 dpi, four CJK fonts,
# clean and degraded, several layouts), one process each over all pages, one core,
# OMP_THREAD_LIMIT=1. Beside the speed, the share of the printed fields that `dorvex ocr`
# gives exactly, per page class, per layout and per field.
#   bench/ocr.sh [BUILD_DIR] [ROUNDS]     (defaults: build, 1)
# dorvex reads each page as a letter: levelling, each printed line found on the ink and
# recognised alone (orientation detection only for a page that reads badly), the letterhead's
# set-apart type word read again where needed, characters placed on the ink, fields parsed. The peers: tesseract with the same one-column
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

seconds() {  # seconds COMMAND...: wall time of the best of $rounds runs; stdout into $keep
  local best="" start end t
  for _ in $(seq 1 "$rounds"); do
    start=$(date +%s%N)
    "$@" > "${keep:-/dev/null}" 2>/dev/null
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

dorvex=$(keep=$work/fields.json seconds taskset -c 0 "$build/apps/dorvex" ocr --json "${pages[@]}")
tess4=$(seconds taskset -c 0 tesseract "$work/list.txt" - -l chi_tra --psm 4)
tess1=$(seconds taskset -c 0 tesseract "$work/list.txt" - -l chi_tra --psm 1)

awk -v n="$count" -v d="$dorvex" -v t4="$tess4" -v t1="$tess1" -v sd="$startup_dorvex" -v st="$startup_tess" 'BEGIN {
  printf "text recognition of %d generated letter pages (A4, 200/300 dpi), one core, OMP_THREAD_LIMIT=1\n", n
  printf "  dorvex ocr (levelling, line by line, ink placement, fields)   %6.3f s/page\n", d
  printf "  tesseract --psm 4 (one column)                               %6.3f s/page\n", t4
  printf "  tesseract --psm 1 (orientation, automatic layout)            %6.3f s/page\n", t1
  printf "  ratio dorvex / tesseract --psm 4                             %6.2f x   (target <= 1.1)\n", d / t4
  printf "  ratio dorvex / tesseract --psm 1                             %6.2f x\n", d / t1
  printf "  start-up, one blank page: dorvex %.3f s, tesseract %.3f s (in the figures above once per run)\n", sd, st
}'

# Exact fields: each page's NAME.fields against its JSON line (the values hold no quotes).
awk -v corpus="$corpus" -F'|' '
  FILENAME != "-" {
    stem = $1; sub(/\.[^.]*$/, "", stem)
    class[corpus "/" $1] = $3; layout[corpus "/" $1] = ($8 == "" ? "plain" : $8)
    n = 0
    while ((getline row < (corpus "/" stem ".fields")) > 0) { split(row, kv, "\t"); want[corpus "/" $1, ++n] = kv[1] "\t" kv[2] }
    close(corpus "/" stem ".fields"); count[corpus "/" $1] = n
    next
  }
  {
    line = $0
    match(line, /^\{"file":"[^"]*"/); file = substr(line, 10, RLENGTH - 10)
    delete got
    while (match(line, /\{"key":"[^"]*","value":"([^"\\]|\\.)*"/)) {
      item = substr(line, RSTART + 8, RLENGTH - 9); line = substr(line, RSTART + RLENGTH)
      split(item, parts, "\",\"value\":\""); got[parts[1]] = parts[2]
    }
    for (i = 1; i <= count[file]; i++) {
      split(want[file, i], kv, "\t"); ok = (kv[1] in got) && got[kv[1]] == kv[2]
      tally("class " class[file], ok); tally("layout " layout[file], ok); tally("field " kv[1], ok)
    }
  }
  function tally(what, ok) { fields[what]++; exact[what] += ok; if (!(what in order)) order[what] = ++kinds }
  END {
    print "exact fields of dorvex ocr (printed value found under its title)"
    split("class layout field", groups, " ")
    for (g = 1; g <= 3; g++) for (k = 1; k <= kinds; k++) for (w in order) if (order[w] == k && index(w, groups[g] " ") == 1) {
      printf "  %-7s %-16s %4d of %4d  %5.1f %%\n", groups[g], substr(w, length(groups[g]) + 2), exact[w], fields[w], 100 * exact[w] / fields[w]
    }
  }' "$corpus/pages.txt" - < "$work/fields.json"
