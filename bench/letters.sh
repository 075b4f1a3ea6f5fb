# Generated 300-dpi A4 letter pages for the benchmarks (sourced): make_letters WORK COUNT makes
# WORK/pageN.pgm and .png (grey) and WORK/scanN.tif (1-bit G4, as a scanner delivers), each
# with the letter text, a Code 39 barcode 11500000NN and a skew of a few degrees.
make_letters() {
  local work=$1 count=$2 convert=/usr/bin/convert text i angle
  text=$(cat tests/corpus/letter.txt)
  for i in $(seq 1 "$count"); do
    angle=$(( (i % 7) - 3 ))
    zint -b 8 --height=60 --scale=3 --notext -d "11500000$(printf %02d "$i")" -o "$work/bc.png"
    "$convert" -size 2480x3508 xc:white -font Noto-Sans-CJK-TC -pointsize 50 -fill black -annotate +250+420 "$text" \
      \( "$work/bc.png" \) -gravity northeast -geometry +220+120 -composite -background white -rotate "$angle" +repage \
      -gravity center -extent 2480x3508 -colorspace Gray -depth 8 -density 300 -units PixelsPerInch "$work/page$i.pgm"
    "$convert" "$work/page$i.pgm" "$work/page$i.png"
    "$convert" "$work/page$i.pgm" -threshold 50% -type bilevel -compress Group4 "$work/scan$i.tif"
  done
}
