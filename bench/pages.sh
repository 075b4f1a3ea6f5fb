#!/usr/bin/env bash
# Page processing speed against unpaper, on generated 300-dpi A4 letter pages (text, a skew of
# a few degrees, a barcode), one core.
#   bench/pages.sh [BUILD_DIR] [PAGES]     (defaults: build, 12)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
count=${2:-12}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert=/usr/bin/convert
text="臺北市政府　函
受文者：內政部
發文日期：中華民國115年3月2日
發文字號：府授秘字第1150001234號
主旨：檢送本府115年度第一次業務會報會議紀錄一份，請查照。
說明：
一、依據本府115年2月20日府授秘字第1150000987號函辦理。
二、會議紀錄請轉知所屬機關並督促辦理相關事項，
　　如有疑義請洽本府秘書處聯絡窗口。
三、本案聯絡人：王小明，電話：(02)2720-8889。
正本：內政部、財政部、教育部、經濟部、交通部
副本：本府秘書處、研究發展考核委員會、法務局"
pages=()
for i in $(seq 1 "$count"); do
  angle=$(( (i % 7) - 3 ))
  zint -b 8 --height=60 --scale=3 --notext -d "11500000$(printf %02d "$i")" -o "$work/bc.png"
  "$convert" -size 2480x3508 xc:white -font Noto-Sans-CJK-TC -pointsize 50 -fill black -annotate +250+420 "$text" \
    \( "$work/bc.png" \) -gravity northeast -geometry +220+120 -composite -background white -rotate "$angle" +repage \
    -gravity center -extent 2480x3508 -colorspace Gray -depth 8 -density 300 -units PixelsPerInch "$work/page$i.pgm"
  "$convert" "$work/page$i.pgm" "$work/page$i.png"
  pages+=("$work/page$i.png")
done

# unpaper with its defaults on the same pages (as PGM, which it reads).
start=$(date +%s%N)
unpaper -q --overwrite --start-sheet 1 --end-sheet "$count" "$work/page%d.pgm" "$work/unpaper%d.pgm" 2> /dev/null
end=$(date +%s%N)
unpaper_ms=$(awk -v s="$start" -v e="$end" -v n="$count" 'BEGIN { printf "%.1f", (e - s) / 1e6 / n }')

taskset -c 0 "$build/bench/bench_pages" "$work" "${pages[@]}" > "$work/result"
get() { sed -n "s/^$1 //p" "$work/result"; }
awk -v bw="$(get bw_ms)" -v gr="$(get grey_ms)" -v co="$(get colour_ms)" -v up="$unpaper_ms" -v n="$count" \
    -v r2="$(get rss_page2_kib)" -v r500="$(get rss_page500_kib)" -v a2="$(get append_page2_ms)" -v a500="$(get append_page500_ms)" 'BEGIN {
  printf "page processing on %d generated 300-dpi A4 letter pages, one core\n", n
  printf "  black and white (1 bit, deskew, borders, despeckle, blank test, barcode, G4)  %7.1f ms/page  (target <= 40)\n", bw
  printf "  unpaper with its defaults                                                   %7.1f ms/page\n", up
  printf "  ratio unpaper/dorvex                                                        %7.1f x     (target >= 100)\n", up / bw
  printf "  grey (deskew, despeckle, blank test, barcode, LZW)                          %7.1f ms/page\n", gr
  printf "  colour (deskew, despeckle, blank test, barcode, JPEG)                       %7.1f ms/page\n", co
  printf "appending to one G4 document\n"
  printf "  resident memory at page 2 / page 500    %.1f / %.1f MiB\n", r2 / 1024, r500 / 1024
  printf "  time to append page 2 / page 500        %.2f / %.2f ms\n", a2, a500
}'
