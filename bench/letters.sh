# Generated 300-dpi A4 letter pages for the benchmarks (sourced): make_letters WORK COUNT [feeder]
# makes WORK/pageN.pgm and .png (grey) and WORK/scanN.tif (1-bit G4, as a scanner delivers), each
# with the letter text and a Code 39 barcode 11500000NN.
#   plain:  a skew of -3 to 3 degrees, a seventh of the pages straight;
#   feeder: as pages come off a feeder, skewed 1 to 6 degrees either way, with specks of dust
#           (1 and 2 pixels) strewn over the 1-bit scan.
make_letters() {
  local work=$1 count=$2 kind=${3:-plain} convert=/usr/bin/convert text i angle specks
  text=$(cat tests/corpus/letter.txt)
  for i in $(seq 1 "$count"); do
    if [ "$kind" = feeder ]; then
      angle=$(( (i % 6) + 1 ))
      [ $((i % 2)) -eq 0 ] && angle=-$angle
    else
      angle=$(( (i % 7) - 3 ))
    fi
    zint -b 8 --height=60 --scale=3 --notext -d "11500000$(printf %02d "$i")" -o "$work/bc.png"
    "$convert" -size 2480x3508 xc:white -font Noto-Sans-CJK-TC -pointsize 50 -fill black -annotate +250+420 "$text" \
      \( "$work/bc.png" \) -gravity northeast -geometry +220+120 -composite -background white -rotate "$angle" +repage \
      -gravity center -extent 2480x3508 -colorspace Gray -depth 8 -density 300 -units PixelsPerInch "$work/page$i.pgm"
    "$convert" "$work/page$i.pgm" "$work/page$i.png"
    if [ "$kind" = feeder ]; then
      specks=$(awk -v seed="$i" 'BEGIN { srand(seed); for (k = 0; k < 3000; k++) {
        x = int(rand() * 2470); y = int(rand() * 3498); s = int(rand() * 2)
        printf "rectangle %d,%d %d,%d ", x, y, x + s, y + s } }')
      "$convert" "$work/page$i.pgm" -threshold 50% -fill black -draw "$specks" -type bilevel \
        -compress Group4 "$work/scan$i.tif"
    else
      "$convert" "$work/page$i.pgm" -threshold 50% -type bilevel -compress Group4 "$work/scan$i.tif"
    fi
  done
}
