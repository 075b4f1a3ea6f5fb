#!/usr/bin/env bash
# Generates the text-recognition corpus into OUTDIR: the official letters of letters.txt, each
# set on an A4 page in its font, size, resolution, skew, noise and file format, with the fields
# the word parser should find beside it in NAME.fields (KEY<TAB>VALUE per line), and the list
# of pages in OUTDIR/pages.txt:
#   file|dpi|class|font|points|skew|noise
# where class is "clean" for a 300-dpi page without skew or noise and "degraded" otherwise.
# turned.tif is letter 02 lying on its side.
set -euo pipefail
export LC_ALL=C.UTF-8  # character-wise substrings of the Chinese lines
out=$1
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
cd "$out"
[ -f pages.txt ] && [ pages.txt -nt "$here/make_ocr_corpus.sh" ] && [ pages.txt -nt "$here/letters.txt" ] && exit 0
convert=/usr/bin/convert
IDEO_SPACE='　'
COLON='：'

# Page state, filled line by line and rendered by flush_page.
name="" font="" points=0 dpi=0 skew=0 noise="" format=""
W=0 H=0 em=0 margin=0 y=0 perline=0 rightx=0
draw=()
fields=()

start_page() {  # start_page NAME FONT POINTS DPI SKEW NOISE FORMAT
  name=$1 font=$2 points=$3 dpi=$4 skew=$5 noise=$6 format=$7
  if [ "$dpi" = 300 ]; then W=2480 H=3508; else W=1654 H=2339; fi
  em=$(( (points * dpi + 36) / 72 ))
  margin=$(( (dpi * 250 + 127) / 254 ))
  perline=$(( (W - 2 * margin) / em - 1 ))
  rightx=$(( W - margin - 22 * em ))
  y=$(( margin + em ))
  draw=(-font "$font" -pointsize "$em" -gravity NorthWest)
  fields=()
}

next_line() { y=$(( y + em * 17 / 10 )); }
text_at() { draw+=(-annotate "+$1+$y" "$2"); next_line; }  # text_at X TEXT
nospace() { local t=${1//$IDEO_SPACE/}; printf '%s' "${t// /}"; }
add_field() {  # add_field "TITLE：VALUE"
  local key=${1%%"$COLON"*} value=${1#*"$COLON"}
  fields+=("$key"$'\t'"$(nospace "$value")")
}

line() {  # line KIND TEXT
  local kind=$1 text=$2 big first rest
  case "$kind" in
    T) text_at "$margin" "$text" ;;
    H)
      big=$(( em * 3 / 2 ))
      y=$(( y + em ))
      draw+=(-pointsize "$big" -gravity North -annotate "+0+$y" "$text" -pointsize "$em" -gravity NorthWest)
      y=$(( y + big + em ))
      fields+=("類別"$'\t'"${text##*"$IDEO_SPACE"}" "機關名稱"$'\t'"$(nospace "${text%"$IDEO_SPACE"*}")")
      ;;
    R) text_at "$rightx" "$text"; add_field "$text" ;;
    L) text_at "$margin" "$text"; add_field "$text" ;;
    W)
      add_field "$text"
      first=${text:0:perline}
      rest=${text:perline}
      if [ -n "$rest" ] && [ ${#rest} -lt 4 ]; then  # no line of one or two stray characters
        first=${text:0:perline - 4}
        rest=${text:perline - 4}
      fi
      text_at "$margin" "$first"
      while [ -n "$rest" ]; do
        text_at $(( margin + 3 * em )) "${rest:0:perline - 3}"
        rest=${rest:perline - 3}
      done
      ;;
    I)
      text_at $(( margin + 3 * em )) "$text"
      local last=$(( ${#fields[@]} - 1 ))
      fields[last]+=$(nospace "$text")
      ;;
    *) echo "make_ocr_corpus.sh: unknown line kind '$kind'" >&2; exit 1 ;;
  esac
}

flush_page() {
  [ -n "$name" ] || return 0
  local ops=() ext file class
  case "$noise" in
    none) ;;
    specks)  # isolated dots a scanner's glass leaves, at fixed places
      local i
      ops+=(-fill black)
      for i in $(seq 1 300); do ops+=(-draw "point $(( (i * 7919) % W )),$(( (i * 104729) % H ))"); done
      ;;
    grain) ops+=(-seed 7 -attenuate 0.6 +noise Gaussian -blur 0x0.6) ;;
    *) echo "make_ocr_corpus.sh: unknown noise '$noise'" >&2; exit 1 ;;
  esac
  if [ "$skew" != 0 ]; then ops+=(-background white -rotate "$skew" +repage -gravity center -extent "${W}x${H}"); fi
  case "$format" in
    g4) ext=tif; ops+=(-threshold 55% -type bilevel -compress Group4) ;;
    png) ext=png; ops+=(-depth 8) ;;
    jpg) ext=jpg; ops+=(-quality 80) ;;
    *) echo "make_ocr_corpus.sh: unknown format '$format'" >&2; exit 1 ;;
  esac
  file=$name.$ext
  "$convert" -size "${W}x${H}" xc:white -fill black "${draw[@]}" -colorspace Gray "${ops[@]}" \
    -density "$dpi" -units PixelsPerInch "$file"
  printf '%s\n' "${fields[@]}" > "$name.fields"
  class=degraded
  [ "$dpi" = 300 ] && [ "$skew" = 0 ] && [ "$noise" = none ] && class=clean
  echo "$file|$dpi|$class|$font|$points|$skew|$noise" >> pages.tmp
  name=""
}

: > pages.tmp
while IFS= read -r row || [ -n "$row" ]; do
  case "$row" in
    ''|'#'*) continue ;;
    '@page '*) flush_page; read -r _ a b c d e f g <<< "$row"; start_page "$a" "$b" "$c" "$d" "$e" "$f" "$g" ;;
    *) line "${row%% *}" "${row#* }" ;;
  esac
done < "$here/letters.txt"
flush_page
# Letter 02 fed sideways (turned a quarter clockwise), for the orientation detection; not
# among the scored pages.
"$convert" 02.tif -rotate 90 -density 300 -units PixelsPerInch -type bilevel -compress Group4 turned.tif
mv pages.tmp pages.txt
