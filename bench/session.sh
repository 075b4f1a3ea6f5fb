#!/usr/bin/env bash
# A scanning session against page processing alone, on the same generated 300-dpi A4 letter
# pages, one core: `dorvex scan --no-upload` on the file feeder (clean-up, barcode splitting,
# storing, tree, recovery file after every page) against `dorvex clean` of the same pages.
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
