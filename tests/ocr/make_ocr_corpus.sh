#!/usr/bin/env bash
# Generates the text-recognition corpus into OUTDIR: the official letters of letters.txt, each
# set on an A4 page in its font, size, resolution, skew, noise and file format, with the fields
# the word parser should find beside it in NAME.fields (KEY<TAB>VALUE per line), and the list
# of pages in OUTDIR/pages.txt:
#   file|dpi|class|font|points|skew|noise|layout
# where class is "clean" for a 300-dpi page without skew or noise and "degraded" otherwise, and
# layout names what the letter is set to try (plain, stamp, citation, hanging, wrap-title,
# book-letter).
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
name="" font="" points=0 dpi=0 skew=0 noise="" format="" layout=""
W=0 H=0 em=0 margin=0 y=0 perline=0 rightx=0
draw=()
fields=()

start_page() {  # start_page NAME FONT POINTS DPI SKEW NOISE FORMAT [LAYOUT]
  name=$1 font=$2 points=$3 dpi=$4 skew=$5 noise=$6 format=$7 layout=${8:-plain}
  if [ "$dpi" = 300 ]; then W=2480 H=3508; else W=1654 H=2339; fi
  em=$(( (points * dpi + 36) / 72 ))
  margin=$(( (dpi * 250 + 127) / 254 ))
  perline=$(( (W - 2 * margin) / em - 1 ))
  rightx=$(( W - margin - 22 * em ))
  y=$(( margin + em ))
  draw=(-font "$font" -pointsize "$em" -gravity NorthWest)
  fields=()
  stamped=0
}

next_line() { y=$(( y + em * 17 / 10 )); }
text_at() { draw+=(-annotate "+$1+$y" "$2"); next_line; }  # text_at X TEXT
nospace() { local t=${1//$IDEO_SPACE/}; printf '%s' "${t// /}"; }
add_field() {  # add_field "TITLE：VALUE"
  local key=${1%%"$COLON"*} value=${1#*"$COLON"}
  fields+=("$key"$'\t'"$(nospace "$value")")
}

# wrap_at X1 X2 TEXT: TEXT from X1, its wrapped lines from X2. A "|" in TEXT breaks the line
# there (each piece must fit); without one the text wraps where the line is full.
wrap_at() {
  local x1=$1 x2=$2 text=$3 x piece room ascii
  if [ "${text#*|}" != "$text" ]; then
    x=$x1
    while [ -n "$text" ]; do
      piece=${text%%|*}
      room=$(( perline - (x - margin) / em ))
      ascii=${piece//[^ -~]/}  # digits and Latin letters take half a character's width
      if [ $(( 2 * ${#piece} - ${#ascii} )) -gt $(( 2 * room )) ]; then echo "make_ocr_corpus.sh: page $name: \"$piece\" does not fit its line" >&2; exit 1; fi
      text_at "$x" "$piece"
      if [ "${text#*|}" = "$text" ]; then text=""; else text=${text#*|}; fi
      x=$x2
    done
    return
  fi
  local first=${text:0:perline} rest=${text:perline}
  if [ -n "$rest" ] && [ ${#rest} -lt 4 ]; then  # no line of one or two stray characters
    first=${text:0:perline - 4}
    rest=${text:perline - 4}
  fi
  text_at "$x1" "$first"
  while [ -n "$rest" ]; do
    text_at "$x2" "${rest:0:perline - 3}"
    rest=${rest:perline - 3}
  done
}

line() {  # line KIND TEXT
  local kind=$1 text=$2 big
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
    W) add_field "${text//|/}"; wrap_at "$margin" $(( margin + 3 * em )) "$text" ;;
    I|J)
      if [ "$kind" = I ]; then text_at $(( margin + 3 * em )) "$text"
      else wrap_at $(( margin + 3 * em )) $(( margin + 5 * em )) "$text"; fi
      local last=$(( ${#fields[@]} - 1 ))
      fields[last]+=$(nospace "${text//|/}")
      ;;
    S)
      # A receipt stamp: a framed block at the foot of the page, flush right; the first S line
      # moves down to it. Not a field of the letter.
      local width=$(( em * 15 ))
      if [ "$stamped" = 0 ]; then
        stamped=1
        y=$(( H - margin - em * 5 ))
        draw+=(-fill none -stroke black -strokewidth $(( em / 12 + 1 ))
          -draw "rectangle $(( W - margin - width - em / 2 )),$(( y - em / 2 )) $(( W - margin + em / 2 )),$(( y + em * 33 / 10 ))"
          -fill black -stroke none)
      fi
      text_at $(( W - margin - width )) "$text"
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
  echo "$file|$dpi|$class|$font|$points|$skew|$noise|$layout" >> pages.tmp
  name=""
}

: > pages.tmp
while IFS= read -r row || [ -n "$row" ]; do
  case "$row" in
    ''|'#'*) continue ;;
    '@page '*) flush_page; read -r _ a b c d e f g l <<< "$row"; start_page "$a" "$b" "$c" "$d" "$e" "$f" "$g" "$l" ;;
    *) line "${row%% *}" "${row#* }" ;;
  esac
done < "$here/letters.txt"
flush_page
# Letter 02 fed sideways (turned a quarter clockwise), for the orientation detection; not
# among the scored pages.
"$convert" 02.tif -rotate 90 -density 300 -units PixelsPerInch -type bilevel -compress Group4 turned.tif
mv pages.tmp pages.txt
