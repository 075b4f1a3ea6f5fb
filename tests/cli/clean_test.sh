#!/usr/bin/env bash
# dorvex clean on the generated corpus: every page's skew, blank and barcode answers.
set -u
dorvex=$1
corpus=$2
fail=0
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
files=()
while IFS='|' read -r file _ _ _; do files+=("$corpus/$file"); done < "$corpus/expected.txt"
"$dorvex" clean --set Deskew=1 --set DeskewAngle=10 --set UseBarcode=1 --set WPageRemove=1 -o "$out" "${files[@]}" > "$out/result.jsonl"
[ $? -eq 0 ] || { echo "FAIL: exit status"; fail=1; }
while IFS='|' read -r file skew blank barcode; do
  line=$(grep -F "\"file\":\"$corpus/$file\"" "$out/result.jsonl")
  got_skew=$(sed -n 's/.*"skew":\(-\{0,1\}[0-9]*\).*/\1/p' <<< "$line")
  got_blank=$(sed -n 's/.*"blank":\([a-z]*\).*/\1/p' <<< "$line")
  got_barcode=$(sed -n 's/.*"barcode":"\([^"]*\)".*/\1/p' <<< "$line")
  want_blank=$([ "$blank" = 1 ] && echo true || echo false)
  [ "$got_blank" = "$want_blank" ] || { echo "FAIL: $file blank $got_blank"; fail=1; }
  [ "$got_barcode" = "$barcode" ] || { echo "FAIL: $file barcode [$got_barcode] want [$barcode]"; fail=1; }
  if [ "$skew" != "-" ]; then
    d=$(( got_skew - skew )); d=${d#-}
    [ "$d" -le 30 ] || { echo "FAIL: $file skew $got_skew want $skew"; fail=1; }
  fi
  # Blank pages are left out of the cleaned output.
  name=${file%.tif}
  if [ "$blank" = 1 ]; then [ ! -e "$out/$name.tif" ] || { echo "FAIL: blank $file written"; fail=1; }
  else [ -s "$out/$name.tif" ] || { echo "FAIL: $file not written"; fail=1; }; fi
done < "$corpus/expected.txt"
"$dorvex" clean --set NoSuchSetting=1 "${files[0]}" > /dev/null 2>&1
[ $? -eq 64 ] || { echo "FAIL: unknown setting accepted"; fail=1; }
printf 'not an image' > "$out/bad.tif"
"$dorvex" clean "$out/bad.tif" "${files[0]}" > "$out/partial.jsonl" 2> "$out/err"
[ $? -eq 1 ] && grep -q "bad.tif" "$out/err" && [ "$(wc -l < "$out/partial.jsonl")" -eq 1 ] || { echo "FAIL: damaged file handling"; fail=1; }
"$dorvex" clean --help | grep -q "DeskewAngle=10" || { echo "FAIL: help lacks settings"; fail=1; }
[ $fail -eq 0 ] && echo "cli clean: all passed"
exit $fail
