#!/usr/bin/env bash
# dorvex scan end to end on the file feeder: barcodes start documents (9-digit and short codes
# normalised), separator sheets, a first document renamed by its later barcode, blank sheets
# dropped, a duplicate barcode stopping the scan, the recovery listing, and the upload to the
# reference server.
set -euo pipefail
dorvex=$1
work=$(mktemp -d)
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
fail() { echo "FAIL: $*" >&2; exit 1; }

sheet() {  # sheet OUT [BARCODE|blank]: a 1000x1400 page at 150 dpi with a thick ink block
  local out=$1 code=${2:-}
  local args=(-size 1000x1400 xc:white)
  if [ "$code" != blank ]; then
    args+=(-fill black -draw "rectangle 100,400 900,470" -draw "rectangle 100,600 700,640")
    if [ -n "$code" ]; then
      zint -b 20 --height=40 --scale=2 --notext -d "$code" -o "$work/bc.png"
      args+=(\( "$work/bc.png" \) -gravity northeast -geometry +60+40 -composite)
    fi
  fi
  convert "${args[@]}" -density 150 -units PixelsPerInch -type bilevel -compress Group4 "$out"
}
feed() {  # feed NAME SHEET...: a feeder folder of the sheets in order
  local dir=$work/$1; shift
  mkdir -p "$dir"
  local n=1
  for s in "$@"; do sheet "$(printf '%s/%02d.tif' "$dir" $n)" "$s"; n=$((n + 1)); done
  echo "$dir"
}
scan() {  # scan TMPNAME ARGS...: a scan into a fresh temporary folder; JSON on stdout
  local tmp=$work/$1; shift
  DORVEX_TMPDIR=$tmp "$dorvex" scan --json --set EnableScanFix=1 --set WPageRemove=1 "$@"
}
doc() {  # doc JSON INNO: "pages" of that document, or "none"
  local line
  line=$(grep "\"inno\":\"$2\"" <<< "$1" || true)
  [ -z "$line" ] && { echo none; return; }
  sed 's/.*"pages":\([0-9]*\).*/\1/' <<< "$line"
}

# Every barcode starts a document; a page without one joins the last; blank sheets go.
dir=$(feed every "" 223456789 "" 42 blank "")
out=$(scan t1 --device "file:$dir" --no-upload --set UseBarcode=1 --set SplitPageMethod=0) || fail "scan 1 exit $?"
[ "$(grep -c '"inno"' <<< "$out")" -eq 3 ] || fail "scan 1: three documents expected: $out"
[ "$(doc "$out" 0223456789)" = 2 ] || fail "scan 1: 9-digit code normalised: $out"
[ "$(doc "$out" 0000000042)" = 2 ] || fail "scan 1: short code padded, blank sheet dropped: $out"
grep -q '"uploaded":false' <<< "$out" || fail "scan 1: nothing uploaded"
rec=$(DORVEX_TMPDIR=$work/t1 "$dorvex" recover --json)
[ "$(grep -c '"inno"' <<< "$rec")" -eq 3 ] || fail "recover lists the three documents: $rec"
grep -q '"problems":\["' <<< "$rec" && fail "recover finds no problem: $rec"
grep -q '"inno":"0000000042","pages":2' <<< "$rec" || fail "recover counts the pages: $rec"
# A second scan without --resume would hide those documents: refused.
if DORVEX_TMPDIR=$work/t1 "$dorvex" scan --device "file:$dir" --no-upload 2>/dev/null; then fail "scan over a waiting recovery file"; fi
out=$(scan t1 --device "file:$dir" --no-upload --resume) || fail "resume exit $?"
[ "$(grep -c '"inno"' <<< "$out")" -eq 3 ] || fail "resume keeps the documents: $out"

# Separator sheets: the first document is named by its later barcode, as is the one after
# the separator.
dir=$(feed sep "" 1150000201 "" SEP "" 777)
out=$(scan t2 --device "file:$dir" --no-upload --set UseBarcode=1 --set SplitPageMethod=1 --set BCSeparator=SEP) \
  || fail "scan 2 exit $?"
[ "$(doc "$out" 1150000201)" = 3 ] || fail "scan 2: renamed first document: $out"
[ "$(doc "$out" 777)" = 2 ] || fail "scan 2: the document after the separator: $out"
[ "$(grep -c '"inno"' <<< "$out")" -eq 2 ] || fail "scan 2: the separator is no document: $out"

# A duplicate barcode stops the scan with its message; what was stored stays.
dir=$(feed dup 500000001 "" 500000001 "")
set +e
out=$(scan t3 --device "file:$dir" --no-upload --set UseBarcode=1 2> "$work/dup.err")
status=$?
set -e
[ $status -eq 1 ] || fail "duplicate: exit 1 expected, got $status"
grep -q "500000001已重複掃描" "$work/dup.err" || fail "duplicate: message: $(cat "$work/dup.err")"
[ "$(doc "$out" 0500000001)" = 2 ] || fail "duplicate: the pages before stay: $out"

# Asking after every page has no one to answer in an unattended run: the scan stops after its
# first page, and that is no success.
set +e
out=$(scan t5 --device "file:$dir" --no-upload --set ScanMode=1 2> "$work/ask.err")
status=$?
set -e
[ $status -eq 1 ] || fail "ScanMode=1: exit 1 expected, got $status: $out"
grep -q "stopped" "$work/ask.err" || fail "ScanMode=1: message: $(cat "$work/ask.err")"
grep -q '"pages":1' <<< "$out" || fail "ScanMode=1: the first page is kept: $out"

# A temporary folder that cannot be made is an error with its reason, not a crash.
set +e
DORVEX_TMPDIR=/dev/null/tmp "$dorvex" scan --device "file:$dir" --no-upload 2> "$work/tmp.err"
status=$?
set -e
[ $status -eq 1 ] || fail "unusable temporary folder: exit 1 expected, got $status"
grep -q "dorvex scan: .*/dev/null/tmp" "$work/tmp.err" || fail "unusable temporary folder: message: $(cat "$work/tmp.err")"

# Upload to the reference server: every document accepted, the temporary files gone.
"$dorvex" server --listen 127.0.0.1:0 --data "$work/data" > "$work/server.log" &
server=$!
for _ in $(seq 50); do grep -q listening "$work/server.log" && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$work/server.log")upload.php
dir=$(feed up 1150000301 "" 1150000302)
out=$(scan t4 --device "file:$dir" --server "$url" --operator op --set UseBarcode=1) || fail "upload scan exit $?"
[ "$(grep -c '"uploaded":true' <<< "$out")" -eq 2 ] || fail "upload: both accepted: $out"
[ -e "$work/t4/Dorvex.bak" ] && fail "upload: the recovery file is gone after a whole upload"
ls "$work/t4"/*.tmp > /dev/null 2>&1 && fail "upload: page files deleted"
reply=$(curl -sS --data-binary '<Request method="QueryImgInfoByInno" operator="op"><QueryImgInfoByInno inno="1150000301"/></Request>' "$url")
grep -q "<TotalPart>" <<< "$reply" || fail "the server holds 1150000301: $reply"
# The demonstration session succeeds only when the server holds both letters.
"$dorvex" demo --headless > "$work/demo.out" 2>&1 || fail "demo exit $?: $(tail -5 "$work/demo.out")"
grep -q "1150000102: .*(.* bytes, 2 page(s))" "$work/demo.out" || fail "demo: the server holds the letters: $(cat "$work/demo.out")"
mkdir -p "$work/torn"
printf 'II*\0torn sheet' > "$work/torn/01.tif"
if "$dorvex" demo --headless --letters "$work/torn" > "$work/demo.out" 2>&1; then fail "demo on a torn sheet reported success"; fi
grep -q "1150000101: nothing" "$work/demo.out" || fail "demo on a torn sheet: $(cat "$work/demo.out")"
echo "scan tests passed"
