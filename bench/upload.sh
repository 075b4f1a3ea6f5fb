#!/usr/bin/env bash
# Upload throughput and memory: `dorvex upload` of a 256 MiB file to the reference server on
# loopback, against two peers measured in the same run on the same server: plain
# `curl --data-binary` posting the raw file in one body, and curl posting the same prepared
# BatchUpload requests (base64 parts of 1 MiB, one reply each) one after another on one
# connection, the fastest this protocol can go there. Then a batch of 200 two-page letters
# against curl posting their prepared requests: what each document costs beyond its bytes.
#   bench/upload.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
dorvex=$build/apps/dorvex
maketiff=$build/bench/bench_make_tiff
work=$(mktemp -d)
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

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

# The protocol's own requests, prepared beforehand, for curl to post on one connection:
# add_requests CONFIG FILE NAME PAGES appends FILE's BatchUpload requests to curl's CONFIG.
add_requests() {
  local config=$1 file=$2 name=$3 pages=$4 prefix part index=0 parts
  prefix="$work/req.$name"
  split -b 1048576 -d -a 4 "$file" "$prefix."
  parts=$(ls "$prefix".* | wc -l)
  for part in "$prefix".*; do
    index=$((index + 1))
    {
      printf '<Request method="BatchUpload" operator=""><BatchUpload total="%d" this="%d" name="%s" pages="%d" encoding="base64" dvdprefix="" overwrite="1" refname="" pageindex="0" parentname="">' "$parts" "$index" "$name" "$pages"
      base64 -w0 "$part"
      printf '</BatchUpload></Request>'
    } > "$part.xml"
    rm "$part"
    [ -s "$config" ] && echo next >> "$config"
    printf 'url = "%s"\ndata-binary = "@%s"\nheader = "Content-Type: application/xml"\nheader = "Expect:"\noutput = "/dev/null"\nsilent\n' \
      "$url" "$part.xml" >> "$config"
  done
}
config="$work/requests.curl"
: > "$config"
add_requests "$config" "$work/BIG256.tif" BIG256 1

# A batch of 200 two-page letters, each its own document.
mkdir -p "$work/batch"
/usr/bin/convert -size 2480x3508 xc:white -fill black -draw "rectangle 200,300 2200,420" -draw "rectangle 200,600 1800,660" \
  -density 300 -units PixelsPerInch -type bilevel -compress Group4 "$work/letter1.tif"
/usr/bin/convert "$work/letter1.tif" "$work/letter1.tif" -compress Group4 "$work/letter.tif"
batch_config="$work/batch.curl"
: > "$batch_config"
for i in $(seq -w 1 200); do
  cp "$work/letter.tif" "$work/batch/D$i.tif"
  add_requests "$batch_config" "$work/batch/D$i.tif" "D$i" 2
done

# curl posts the whole file as one body; "Expect:" spares it the 1 s wait for a 100-continue.
read -r dorvex_s dorvex_kib < <(run_timed "$dorvex" upload --overwrite --server "$url" "$work/BIG256.tif")
read -r curl_s _ < <(run_timed curl -sS -H 'Expect:' --data-binary @"$work/BIG256.tif" -o /dev/null "$url")
read -r parts_s _ < <(run_timed curl -K "$config")
read -r _ mid_kib < <(run_timed "$dorvex" upload --overwrite --server "$url" "$work/MID16.tif")
read -r batch_s _ < <(run_timed "$dorvex" upload --overwrite --server "$url" "$work"/batch/D*.tif)
read -r batch_parts_s _ < <(run_timed curl -K "$batch_config")

awk -v mb="$mb" -v bs="$batch_s" -v bp="$batch_parts_s" -v d="$dorvex_s" -v c="$curl_s" -v p="$parts_s" -v big="$dorvex_kib" -v mid="$mid_kib" 'BEGIN {
  dr = mb / (d > 0 ? d : 0.01); cr = mb / (c > 0 ? c : 0.01); pr = mb / (p > 0 ? p : 0.01)
  printf "upload of %.1f MB to the reference server on loopback\n", mb
  printf "  dorvex upload           %8.1f MB/s  (%.2f s)\n", dr, d
  printf "  curl, the same requests %8.1f MB/s  (%.2f s)\n", pr, p
  printf "  curl --data-binary      %8.1f MB/s  (%.2f s)\n", cr, c
  printf "  ratio dorvex/requests   %8.2f   (target >= 0.95)\n", dr / pr
  printf "  ratio dorvex/raw curl   %8.2f   (target >= 0.5)\n", dr / cr
  printf "upload of 200 two-page letters, one document each\n"
  printf "  dorvex upload           %8.2f s\n", bs
  printf "  curl, the same requests %8.2f s\n", bp
  printf "  ratio dorvex/requests   %8.2f\n", bp / (bs > 0 ? bs : 0.01)
  printf "  time per document beyond its bytes %5.1f ms  (target <= 5)\n", (bs - bp) * 1000 / 200
  printf "peak resident memory of dorvex upload\n"
  printf "  16 MiB file             %8.1f MiB\n", mid / 1024
  printf "  256 MiB file            %8.1f MiB\n", big / 1024
  printf "  difference              %8.1f MiB  (target <= 4)\n", (big - mid) / 1024
}'
