#!/usr/bin/env bash
# Upload throughput and memory: `dorvex upload` of a 256 MiB file to the reference server on
# loopback, against plain `curl --data-binary` posting the same file to the same server.
#   bench/upload.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
dorvex=$build/apps/dorvex
maketiff=$build/bench/bench_make_tiff
work=$(mktemp -d)
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT

"$maketiff" "$work/BIG256.tif" 256
"$maketiff" "$work/MID16.tif" 16
# The server must take curl's single 256 MiB body too.
"$dorvex" server --listen 127.0.0.1:0 --data "$work/data" --max-body $((300 * 1048576)) > "$work/server.log" &
server=$!
for _ in $(seq 50); do grep -q listening "$work/server.log" && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$work/server.log")upload.php

size=$(stat -c %s "$work/BIG256.tif")
mb=$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1000000 }')

run_timed() {  # prints "seconds peak_kib" of the best of three runs of the command
  local best=""
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null
    if [ -z "$best" ] || awk -v a="$(cut -d' ' -f1 "$work/time")" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then
      best=$(cat "$work/time")
    fi
  done
  echo "$best"
}

# curl posts the whole file as one body; "Expect:" spares it the 1 s wait for a 100-continue.
read -r dorvex_s dorvex_kib < <(run_timed "$dorvex" upload --overwrite --server "$url" "$work/BIG256.tif")
read -r curl_s _ < <(run_timed curl -sS -H 'Expect:' --data-binary @"$work/BIG256.tif" -o /dev/null "$url")
read -r _ mid_kib < <(run_timed "$dorvex" upload --overwrite --server "$url" "$work/MID16.tif")

awk -v mb="$mb" -v d="$dorvex_s" -v c="$curl_s" -v big="$dorvex_kib" -v mid="$mid_kib" 'BEGIN {
  dr = mb / (d > 0 ? d : 0.01); cr = mb / (c > 0 ? c : 0.01)
  printf "upload of %.1f MB to the reference server on loopback\n", mb
  printf "  dorvex upload           %8.1f MB/s  (%.2f s)\n", dr, d
  printf "  curl --data-binary      %8.1f MB/s  (%.2f s)\n", cr, c
  printf "  ratio dorvex/curl       %8.2f   (target >= 0.5)\n", dr / cr
  printf "peak resident memory of dorvex upload\n"
  printf "  16 MiB file             %8.1f MiB\n", mid / 1024
  printf "  256 MiB file            %8.1f MiB\n", big / 1024
  printf "  difference              %8.1f MiB  (target <= 4)\n", (big - mid) / 1024
}'
