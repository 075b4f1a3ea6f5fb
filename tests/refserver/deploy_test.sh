#!/usr/bin/env bash
# The reference server deployed as an operator would: behind Debian's nginx with its default
# upstream settings (a new connection for every request), and as two instances on one
# PostgreSQL database and one data folder behind nginx round-robin, one of them killed mid-batch.
#   deploy_test.sh DORVEX [REFSERVER_TESTS]
# With REFSERVER_TESTS, the reference server's own tests run again on PostgreSQL.
set -euo pipefail
dorvex=$1
refserver_tests=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=deploy_lib.sh
. "$here/deploy_lib.sh"
deploy_need_tools
deploy_init
trap deploy_cleanup EXIT
fail() { deploy_fail "$@"; }

noise_tiff() {  # noise_tiff OUT SEED SIDE: an uncompressed grey TIFF of random pixels (SIDE² bytes)
  convert -size "$3x$3" -seed "$2" xc:gray +noise Random -colorspace gray -depth 8 -compress none "$1"
}

echo "== behind nginx, SQLite"
server_start lone --data "$work/lone"
nginx_start lone="$lone_port"
proxy="http://127.0.0.1:$nginx_port_lone/app/upload.php"
mkdir -p "$work/in"
noise_tiff "$work/in/BIG1.tif" 1 3700    # 13.7 MB: 14 parts
noise_tiff "$work/in/BIG2.tif" 2 1800    # 3.2 MB: 4 parts
"$dorvex" upload --server "$proxy" --operator clerk "$work/in/BIG1.tif" > "$work/report1" ||
  { cat "$work/report1"; fail "a 14-part upload through nginx without a cookie was refused"; }
"$dorvex" upload --server "$proxy" --operator clerk --session SessionID=desk-1 "$work/in/BIG2.tif" > "$work/report2" ||
  { cat "$work/report2"; fail "a 4-part upload through nginx with a cookie was refused"; }
for name in BIG1 BIG2; do
  fetch "$proxy" "$name" "$work/back.tif" || fail "$name cannot be read back"
  cmp "$work/in/$name.tif" "$work/back.tif" || fail "$name came back different"
done

# Parts by hand: 3 parts of 300 KB each for every file.
for f in A B R; do
  head -c 900000 /dev/urandom > "$work/$f.bin"
  for i in 1 2 3; do
    dd if="$work/$f.bin" of="$work/$f.$i" bs=300000 skip=$((i - 1)) count=1 status=none
    upload_body clerk "DOC$f" 3 "$i" "$work/$f.$i" > "$work/$f.$i.xml"
  done
done
expect() {  # expect CODE WHAT URL COOKIE BODYFILE
  local reply
  reply=$(post "$3" "$4" "$5")
  [ "$(err_code "$reply")" = "$1" ] || fail "$2: expected ErrCode $1, got: ${reply:0:300}"
}
# A retry of part 1 (its reply lost) over a new connection starts the file over.
expect 0 "part 1" "$proxy" desk-r "$work/R.1.xml"
expect 0 "part 1 again" "$proxy" desk-r "$work/R.1.xml"
expect 0 "part 2 after the retry" "$proxy" desk-r "$work/R.2.xml"
expect 0 "part 3 after the retry" "$proxy" desk-r "$work/R.3.xml"
fetch "$proxy" DOCR "$work/back.bin" && cmp "$work/R.bin" "$work/back.bin" || fail "the retried upload is not stored whole"
# Two cookies interleaving the parts of one document: the later part 1 wins, the other is told
# to start again and, once it has, its file is stored whole.
sed 's/name="DOCB"/name="DOCA"/' "$work/B.1.xml" > "$work/BA.1.xml"
sed 's/name="DOCB"/name="DOCA"/' "$work/B.2.xml" > "$work/BA.2.xml"
sed 's/name="DOCB"/name="DOCA"/' "$work/B.3.xml" > "$work/BA.3.xml"
expect 0 "first sender's part 1" "$proxy" desk-a "$work/A.1.xml"
expect 0 "second sender's part 1" "$proxy" desk-b "$work/BA.1.xml"
expect -9 "first sender's part 2 after another part 1" "$proxy" desk-a "$work/A.2.xml"
expect 0 "second sender's part 2" "$proxy" desk-b "$work/BA.2.xml"
expect 0 "first sender starting again" "$proxy" desk-a "$work/A.1.xml"
expect -9 "second sender's part 3 after another part 1" "$proxy" desk-b "$work/BA.3.xml"
expect 0 "first sender's part 2" "$proxy" desk-a "$work/A.2.xml"
expect 0 "first sender's part 3" "$proxy" desk-a "$work/A.3.xml"
fetch "$proxy" DOCA "$work/back.bin" && cmp "$work/A.bin" "$work/back.bin" || fail "the interleaved upload is not one sender's whole file"

echo "== PostgreSQL, two instances behind nginx round-robin"
pg_start
db=$(pg_create dorvex)
kill -QUIT "$nginx_pid"; wait "$nginx_pid" 2>/dev/null || true; nginx_pid=""
server_start one --data "$work/shared" --db "$db"
server_start two --data "$work/shared" --db "$db"
nginx_start pair="$one_port,$two_port"
pair="http://127.0.0.1:$nginx_port_pair/app/upload.php"
mkdir -p "$work/batch"
for i in $(seq -w 1 24); do noise_tiff "$work/batch/D$i.tif" "$((100 + 10#$i))" 1600; done  # 2.6 MB: 3 parts
"$dorvex" upload --server "$pair" --operator clerk --session SessionID=batch "$work/batch" > "$work/batch.report" 2> "$work/batch.err" &
upload=$!
# Kill one instance as soon as the first document is stored, while the batch goes on.
info() {  # info URL NAME: the QueryImgInfoByInno reply's content
  printf '<Request method="QueryImgInfoByInno" operator="clerk"><QueryImgInfoByInno inno="%s"/></Request>' "$2" > "$work/q.xml"
  post "$1" "" "$work/q.xml" | sed -n 's|.*\(<ImgInfo>.*</ImgInfo>\).*|\1|p'
}
killed=""
for _ in $(seq 600); do
  if info "http://127.0.0.1:$two_port/" D01 | grep -q '<TotalPart>[1-9]'; then
    kill -0 "$upload" 2>/dev/null && { kill -KILL "$one_pid"; killed=yes; }
    break
  fi
  sleep 0.02
done
[ "$killed" = yes ] || fail "the batch was not in progress when the instance was to be killed"
wait "$upload" || true
cat "$work/batch.err" >&2
accepted=$(grep -c ',1,上傳成功,' "$work/batch.report" || true)
echo "accepted $accepted of 24 documents with an instance killed mid-batch"
[ "$accepted" -ge 20 ] || fail "only $accepted of 24 documents were accepted after one instance was killed"
# A fresh instance on the same database and folder answers as the one that stayed.
server_start three --data "$work/shared" --db "$db"
for i in $(seq -w 1 24); do
  name=D$i
  a=$(info "http://127.0.0.1:$two_port/" "$name")
  b=$(info "http://127.0.0.1:$three_port/" "$name")
  [ "$a" = "$b" ] || fail "$name: the instances answer differently: $a / $b"
  if grep -q "^$name,1," "$work/batch.report"; then
    for port in "$two_port" "$three_port"; do
      fetch "http://127.0.0.1:$port/" "$name" "$work/back.tif" || fail "$name was accepted but cannot be read back"
      cmp "$work/batch/$name.tif" "$work/back.tif" || fail "$name was accepted but is not stored whole"
    done
  elif grep -q '<TotalPart>[1-9]' <<< "$a"; then
    # Refused because its instance died mid-file: if a copy is there, it is whole.
    fetch "http://127.0.0.1:$two_port/" "$name" "$work/back.tif" && cmp -s "$work/batch/$name.tif" "$work/back.tif" ||
      fail "$name was refused and a broken copy is stored"
  fi
done

for name in lone two three; do server_stop "$name"; done

if [ -n "$refserver_tests" ]; then
  echo "== the reference server's tests on PostgreSQL"
  DORVEX_TEST_POSTGRES=$pg_url "$refserver_tests" --gtest_brief=1 || fail "the reference server's tests on PostgreSQL"
fi
echo "deployment test passed"
