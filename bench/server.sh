#!/usr/bin/env bash
# Reference server throughput: 8 concurrent `dorvex upload` clients, each with its own session
# cookie, upload 2-part documents through nginx to the server on SQLite, on PostgreSQL with one
# instance and on PostgreSQL with two instances (round-robin, one data folder), in one run.
# Prints documents/s and MB/s for each, and each one's ratio to SQLite.
#   bench/server.sh [BUILD_DIR] [DOCUMENTS_PER_CLIENT]     (defaults: build, 20)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
per_client=${2:-20}
clients=8
dorvex=$(pwd)/$build/apps/dorvex
# shellcheck source=../tests/refserver/deploy_lib.sh
. tests/refserver/deploy_lib.sh
deploy_need_tools
deploy_init
trap deploy_cleanup EXIT

# 1200 × 1200 random grey pixels, uncompressed: 1.44 MB, two parts of at most 1 MiB.
convert -size 1200x1200 -seed 7 xc:gray +noise Random -colorspace gray -depth 8 -compress none "$work/seed.tif"
for c in $(seq "$clients"); do
  mkdir -p "$work/in/$c"
  for d in $(seq "$per_client"); do cp "$work/seed.tif" "$work/in/$c/C$c-D$d.tif"; done
done
size=$(stat -c %s "$work/seed.tif")
documents=$((clients * per_client))

run() {  # run URL: seconds for all clients to upload their documents
  local start end pids=() c failed=0
  start=$(date +%s.%N)
  for c in $(seq "$clients"); do
    "$dorvex" upload --overwrite --server "$1" --operator clerk --session "SessionID=client-$c" "$work/in/$c" \
      > "$work/report-$c" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  end=$(date +%s.%N)
  [ $failed -eq 0 ] || { cat "$work"/report-* >&2; deploy_fail "an upload failed"; }
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

pg_start
server_start lite --data "$work/lite"
server_start pgone --data "$work/pgone" --db "$(pg_create bench_one)"
db_two=$(pg_create bench_two)
server_start pga --data "$work/pgtwo" --db "$db_two"
server_start pgb --data "$work/pgtwo" --db "$db_two"
nginx_start lite="$lite_port" pgone="$pgone_port" pgtwo="$pga_port,$pgb_port"

sqlite_s=$(run "http://127.0.0.1:$nginx_port_lite/upload.php")
pg1_s=$(run "http://127.0.0.1:$nginx_port_pgone/upload.php")
pg2_s=$(run "http://127.0.0.1:$nginx_port_pgtwo/upload.php")

awk -v n="$documents" -v size="$size" -v s="$sqlite_s" -v p1="$pg1_s" -v p2="$pg2_s" -v c="$clients" 'BEGIN {
  mb = n * size / 1000000
  printf "%d clients, %d documents of %.2f MB (2 parts each), through nginx on loopback\n", c, n, size / 1000000
  printf "  %-28s %8s %8s %8s\n", "", "docs/s", "MB/s", "vs SQLite"
  printf "  %-28s %8.1f %8.1f %8.2f\n", "SQLite, one instance", n / s, mb / s, 1
  printf "  %-28s %8.1f %8.1f %8.2f\n", "PostgreSQL, one instance", n / p1, mb / p1, s / p1
  printf "  %-28s %8.1f %8.1f %8.2f\n", "PostgreSQL, two instances", n / p2, mb / p2, s / p2
}'
