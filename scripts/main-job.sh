#!/usr/bin/env bash
# The main job on its embedded default: start the reference server with its default seed,
# upload the sample documents as the control does, and read one back.
set -euo pipefail
cd "$(dirname "$0")/.."
dorvex=$1
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT

"$dorvex" server --listen 127.0.0.1:0 --data "$work/data" --seed refserver/seed-default.xml > "$work/server.log" &
server=$!
for _ in $(seq 50); do grep -q listening "$work/server.log" && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$work/server.log")upload.php
echo "reference server: $url"

operator=${DORVEX_OPERATOR:-王小明}
echo "session values a web page hands the control:"
for pair in "EncServerURL:$url" "EncOperator:$operator"; do
  printf '  %-13s %s\n' "${pair%%:*}" "$("$dorvex" encrypt "${pair#*:}")"
done

echo "upload of samples/ (report: document,code,message,path):"
"$dorvex" upload --server "$url" --operator "$operator" samples/
echo "the server now holds:"
for inno in 1150000001 1150000002; do
  reply=$(curl -sS --data-binary "<Request method=\"QueryImgInfoByInno\" operator=\"$operator\"><QueryImgInfoByInno inno=\"$inno\"/></Request>" "$url")
  echo "  $inno: $(echo "$reply" | sed -n 's/.*<ImgInfo>\(.*\)<\/ImgInfo>.*/\1/p')"
done
