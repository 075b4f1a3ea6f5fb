#!/usr/bin/env bash
# Generates the image corpus of the page-processing tests into OUTDIR, with the expected
# outcome of each page in OUTDIR/expected.txt:
#   file|skew in hundredths of a degree ("-" for none)|blank (0/1)|first barcode ("" for none)
# Letter pages are A4 at 200 dpi, set in Noto Sans CJK TC; barcodes come from zint.
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
cd "$out"
[ -f expected.txt ] && [ expected.txt -nt "$here/make_corpus.sh" ] && [ expected.txt -nt "$here/letter.txt" ] && exit 0
convert=/usr/bin/convert
W=1654
H=2339
font=Noto-Sans-CJK-TC
letter=$(cat "$here/letter.txt")

page() {  # page OUT [extra convert args...]: the letter page, then the extra operations
  local target=$1
  shift
  "$convert" -size ${W}x${H} xc:white -font $font -pointsize 34 -fill black -annotate +170+260 "$letter" \
    "$@" -density 200 -units PixelsPerInch -type bilevel -compress Group4 "$target"
}
rotated() {  # rotated OUT DEGREES (clockwise)
  "$convert" letter.tif -background white -rotate "$2" +repage -gravity center -extent ${W}x${H} \
    -density 200 -units PixelsPerInch -type bilevel -compress Group4 "$1"
}
barcode() {  # barcode SYMBOLOGY DATA OUT: a zint symbol scaled for 200 dpi
  zint -b "$1" --height=40 --scale=2 --notext -d "$2" -o "$3"
}
: > expected.txt
expect() { echo "$1|$2|$3|$4" >> expected.txt; }

page letter.tif
expect letter.tif 0 0 ""
for deg in -9 -6 -3 -1 2 4 7 9; do
  rotated "skew_${deg}.tif" "$deg"
  expect "skew_${deg}.tif" $((deg * 100)) 0 ""
done

"$convert" -size ${W}x${H} xc:white -density 200 -units PixelsPerInch -type bilevel -compress Group4 blank.tif
expect blank.tif - 1 ""
# A nearly blank page: a few specks and a short pencil mark.
"$convert" -size ${W}x${H} xc:white -fill black -draw "point 300,400" -draw "point 900,1500" -draw "rectangle 1200,2000 1203,2003" \
  -draw "line 200,3000 260,3004" -density 200 -units PixelsPerInch -type bilevel -compress Group4 nearly_blank.tif
expect nearly_blank.tif - 1 ""
# A short note of a few lines is not blank.
"$convert" -size ${W}x${H} xc:white -font $font -pointsize 34 -fill black -annotate +170+260 "附件：會議紀錄一份（共三頁）
一、出席人員簽到表一份。
二、會議簡報資料一份，請參閱。
三、本頁以下空白，無正文。" -density 200 -units PixelsPerInch -type bilevel -compress Group4 short_note.tif
expect short_note.tif - 0 ""

# Black borders from the scanner lid on the left and the bottom.
page borders.tif -fill black -draw "rectangle 0,0 60,$H" -draw "rectangle 0,$((H - 45)) $W,$H" -draw "rectangle $((W - 25)),0 $W,$H"
expect borders.tif 0 0 ""
# Speckles: isolated dots over the page.
specks=()
for i in $(seq 1 400); do
  x=$(( (i * 7919) % W )); y=$(( (i * 104729) % H ))
  specks+=(-draw "point $x,$y")
done
page speckles.tif -fill black "${specks[@]}"
expect speckles.tif 0 0 ""

# Barcodes of each kind at the top right of a letter.
kinds=("8:CODE39:1150000001" "20:CODE128:AB-115-0001" "3:ITF:1150000012" "13:EAN13:471008841234" "34:UPCA:03600029145" "18:CODABAR:A1150000001B")
for kind in "${kinds[@]}"; do
  IFS=: read -r symbology name data <<< "$kind"
  barcode "$symbology" "$data" "bc_${name}.png"
  page "barcode_${name}.tif" \( "bc_${name}.png" \) -gravity northeast -geometry +120+60 -composite
  rm -f "bc_${name}.png"
done
expect barcode_CODE39.tif 0 0 "1150000001"
expect barcode_CODE128.tif 0 0 "AB-115-0001"
expect barcode_ITF.tif 0 0 "1150000012"
expect barcode_EAN13.tif 0 0 "4710088412348"
expect barcode_UPCA.tif 0 0 "036000291452"
expect barcode_CODABAR.tif 0 0 "1150000001"

# A separator sheet: a large Code 39 "SEPARATOR" in the middle of an empty page.
zint -b 8 --height=80 --scale=4 -d "SEPARATOR" -o sep.png
"$convert" -size ${W}x${H} xc:white \( sep.png \) -gravity center -composite -density 200 -units PixelsPerInch -type bilevel -compress Group4 separator.tif
rm -f sep.png
expect separator.tif - 0 "SEPARATOR"

# A skewed page with a barcode, as a feeder delivers it.
page letter_bc.tif \( -size 10x10 xc:white \) -composite
barcode 8 "1150000077" bc.png
"$convert" letter.tif \( bc.png \) -gravity northeast -geometry +160+60 -composite -background white -rotate 3 +repage \
  -gravity center -extent ${W}x${H} -density 200 -units PixelsPerInch -type bilevel -compress Group4 skewed_barcode.tif
expect skewed_barcode.tif 300 0 "1150000077"
# Feeder pages leaning more, either way, strewn with dust: 1- and 2-pixel specks.
dust=()
for i in $(seq 1 600); do
  x=$(( (i * 7919) % W )); y=$(( (i * 104729) % H ))
  dust+=(-draw "rectangle $x,$y $((x + i % 2)),$((y + i % 2))")
done
for deg in 5 -6; do
  "$convert" letter.tif \( bc.png \) -gravity northeast -geometry +160+60 -composite -background white -rotate "$deg" +repage \
    -gravity center -extent ${W}x${H} +gravity -threshold 50% -fill black "${dust[@]}" -density 200 -units PixelsPerInch -type bilevel \
    -compress Group4 "feeder_${deg}.tif"
  expect "feeder_${deg}.tif" $((deg * 100)) 0 "1150000077"
done
rm -f bc.png letter_bc.tif
