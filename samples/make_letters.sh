#!/usr/bin/env bash
# Generates the sample letters that `dorvex demo` feeds to the scan window, into OUTDIR, in
# feeding order: two official letters with a barcode on their first page, a blank sheet, a
# separator sheet between them, and the second letter fed skewed.
#   01 letter A, page 1 (barcode 1150000101)   02 letter A, page 2
#   03 a blank sheet                          04 the separator sheet (barcode DORVEX-SEP)
#   05 letter B, page 1, skewed 2° (barcode 1150000102)   06 letter B, page 2
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
cd "$out"
[ -f 06.tif ] && [ 06.tif -nt "$here/make_letters.sh" ] && exit 0
W=1654
H=2339
font=Noto-Sans-CJK-TC
save=(-density 200 -units PixelsPerInch -type bilevel -compress Group4)

letter() {  # letter OUT BARCODE TEXT: a page set in Noto Sans CJK TC, the barcode top right
  local target=$1 code=$2 text=$3
  local args=(-size ${W}x${H} xc:white -font $font -pointsize 34 -fill black -annotate +170+300 "$text")
  if [ -n "$code" ]; then
    zint -b 20 --height=40 --scale=2 --notext -d "$code" -o bc.png
    args+=(\( bc.png \) -gravity northeast -geometry +120+60 -composite)
  fi
  convert "${args[@]}" "${save[@]}" "$target"
  rm -f bc.png
}

letter 01.tif 1150000101 "臺北市政府　函
受文者：臺北市立圖書館
發文日期：中華民國115年3月2日
發文字號：北市文字第1150000101號
主旨：檢送本府115年度公共閱讀推廣計畫一份，請查照。
說明：
一、依據本府115年2月10日會議決議辦理。
二、請於115年4月30日前提報執行進度。"
letter 02.tif "" "三、計畫經費由本府文化局編列預算支應。
四、聯絡人：文化局閱讀推廣科　王小明
　　電話：(02)2720-8889分機1234
正本：臺北市立圖書館
副本：本府文化局"
convert -size ${W}x${H} xc:white "${save[@]}" 03.tif
letter 04.tif DORVEX-SEP "分隔頁
（本頁不存檔，下一頁起為新文件）"
letter 05.tif 1150000102 "新北市政府　開會通知單
受文者：新北市立圖書館
發文日期：中華民國115年3月5日
發文字號：新北文字第1150000102號
開會事由：研商115年度館藏數位化作業
開會時間：115年3月20日上午10時
開會地點：本府行政大樓12樓會議室"
convert 05.tif -background white -rotate 2 +repage -gravity center -extent ${W}x${H} "${save[@]}" 05.tif
letter 06.tif "" "備註：
一、請與會人員攜帶相關資料出席，並請準時到場。
二、會議資料請於115年3月18日前送交本府文化局。
三、與會人員如需停車，請事先告知承辦人登記車號。
四、本案聯絡人：李大同，電話(02)2960-3456分機5678。
五、會議紀錄將於會後一週內函送各與會機關。
正本：新北市立圖書館、新北市各區公所
副本：本府文化局、本府資訊中心"
