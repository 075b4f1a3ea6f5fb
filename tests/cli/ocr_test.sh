#!/usr/bin/env bash
# dorvex ocr on the recognition corpus: fields as text and JSON, the searchable PDF, the exits
# for unreadable files, a missing engine language and usage errors.
#   ocr_test.sh DORVEX OCR_CORPUS
set -u
dorvex=$1
corpus=$2
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1: got [$2] want [$3]"; fail=1; fi; }
has() { case "$2" in *"$3"*) ;; *) echo "FAIL: $1: [$2] lacks [$3]"; fail=1;; esac; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

out=$("$dorvex" ocr "$corpus/06.tif"); check "text exit" $? 0
has "text file line" "$out" "$corpus/06.tif"
has "text field" "$out" "  發文字號: 南市文資字第1130123456號"

out=$("$dorvex" ocr --json "$corpus/01.tif" "$corpus/05.png"); check "json exit" $? 0
check "json lines" "$(printf '%s\n' "$out" | wc -l)" 2
has "json file" "$out" "{\"file\":\"$corpus/01.tif\",\"fields\":[{\"key\":\"類別\",\"value\":\"函\",\"confidence\":"
has "json agency" "$out" "{\"key\":\"機關名稱\",\"value\":\"臺北市政府教育局\",\"confidence\":"
has "json field" "$out" "{\"key\":\"發文日期\",\"value\":\"中華民國113年3月5日\",\"confidence\":"
has "json meeting" "$out" "{\"key\":\"開會地點\",\"value\":\"本局第一會議室\",\"confidence\":"
# Every field read carries the engine's confidence, 0 to 100 (-1 for an empty value).
check "json confidences" "$(printf '%s\n' "$out" | grep -o '"confidence":[-0-9]*' | awk -F: '$2 < -1 || $2 > 100 || ($2 < 0 && $2 != -1)' | wc -l)" 0
check "json confidence given" "$(printf '%s\n' "$out" | grep -o '"confidence":[0-9][0-9]*' | wc -l | awk '{ print ($1 >= 20) }')" 1
has "json text empty when fields" "$out" '],"text":""}'

# A page without any field title gives its whole text.
convert=/usr/bin/convert
"$convert" -size 1654x600 xc:white -font Noto-Sans-CJK-TC -pointsize 44 -fill black -annotate +100+200 "本頁以下空白" \
  -density 200 -units PixelsPerInch -type bilevel -compress Group4 "$work/note.tif"
out=$("$dorvex" ocr --json "$work/note.tif"); check "no field exit" $? 0
check "no field json" "$out" "{\"file\":\"$work/note.tif\",\"fields\":[],\"text\":\"本頁以下空白\"}"

# An unreadable file: named on standard error and in its JSON object; the others still read.
err=$("$dorvex" ocr --json "$work/missing.tif" "$corpus/02.tif" 2>"$work/err" >"$work/out"); check "missing exit" $? 1
has "missing message" "$(cat "$work/err")" "missing.tif"
has "missing json" "$(cat "$work/out")" "{\"file\":\"$work/missing.tif\",\"error\":"
has "others read" "$(cat "$work/out")" "新北市立圖書館"

# The searchable PDF of every page, written whole.
"$dorvex" ocr --pdf "$work/out.pdf" "$corpus/03.tif" "$corpus/08.jpg" > "$work/fields"; check "pdf exit" $? 0
has "pdf fields" "$(cat "$work/fields")" "桃衛疾字第1130054321號"
check "pdf header" "$(head -c 5 "$work/out.pdf")" "%PDF-"
check "pdf pages" "$(grep -ac '/Type /Page$' "$work/out.pdf")" 2
if command -v pdftotext > /dev/null; then
  has "pdf text layer" "$(pdftotext "$work/out.pdf" - | tr -d ' ')" "桃園市各區衛生所"
fi
# A PDF that cannot be written whole is not written, and the old one stays.
echo "old" > "$work/keep.pdf"
"$dorvex" ocr --pdf "$work/keep.pdf" "$corpus/01.tif" "$work/missing.tif" > /dev/null 2> "$work/err"; check "pdf fail exit" $? 1
check "old pdf kept" "$(cat "$work/keep.pdf")" "old"
has "pdf fail message" "$(cat "$work/err")" "keep.pdf was not written"
check "no temporary left" "$(ls -A "$work" | grep -c '^\.keep')" 0

# The engine's language data missing: a clear message, exit 1.
err=$(TESSDATA_PREFIX="$work/none" "$dorvex" ocr "$corpus/01.tif" 2>&1 >/dev/null); check "no language exit" $? 1
has "no language message" "$err" "tesseract-ocr-chi-tra"

# Usage.
"$dorvex" ocr > /dev/null 2>&1; check "no file exit" $? 64
"$dorvex" ocr --bogus "$corpus/01.tif" > /dev/null 2>&1; check "unknown option exit" $? 64
"$dorvex" ocr "$corpus/01.tif" --pdf > /dev/null 2>&1; check "pdf without name exit" $? 64
help=$("$dorvex" ocr --help); check "help exit" $? 0
has "help" "$help" "usage: dorvex ocr"
"$dorvex" --help | grep -q "ocr \[--json\]" || { echo "FAIL: dorvex --help lacks ocr"; fail=1; }

if [ $fail -eq 0 ]; then echo "cli ocr: all passed"; fi
exit $fail
