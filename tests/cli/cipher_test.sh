#!/usr/bin/env bash
# The command line's cipher: round trips, Chinese text, and its error exits.
set -u
dorvex=$1
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1: got [$2] want [$3]"; fail=1; fi; }

for text in "http://127.0.0.1:8080/upload.php" "王小明" "A1 & \"B\"" "臺北市政府府授秘字第11530號"; do
  c=$("$dorvex" encrypt "$text"); check "encrypt exit ($text)" $? 0
  check "round trip ($text)" "$("$dorvex" decrypt "$c")" "$text"
done
c1=$("$dorvex" encrypt same); c2=$("$dorvex" encrypt same)
[ "$c1" != "$c2" ] || { echo "FAIL: two encryptions are equal"; fail=1; }
c=$("$dorvex" encrypt 0123456789); check "length" "${#c}" 44

err=$("$dorvex" encrypt "简体" 2>&1 >/dev/null); check "not CP950 exit" $? 2
case "$err" in *CP950*) ;; *) echo "FAIL: no clear message: $err"; fail=1;; esac
"$dorvex" decrypt "AAAA" >/dev/null 2>&1; check "short cipher exit" $? 2
"$dorvex" decrypt "" >/dev/null 2>&1; check "empty cipher exit" $? 2
"$dorvex" encrypt >/dev/null 2>&1; check "usage exit" $? 64
# A stray character inside a cipher text is refused, not skipped.
c=$("$dorvex" encrypt 0123456789)
"$dorvex" decrypt "${c:0:10}!${c:10}" >/dev/null 2>&1; check "junk inside cipher exit" $? 2
# An upload of a folder without any image says so and fails.
empty=$(mktemp -d)
err=$("$dorvex" upload --server http://127.0.0.1:9/ "$empty" 2>&1 >/dev/null); check "empty folder upload exit" $? 1
case "$err" in *"no image file"*) ;; *) echo "FAIL: no clear message for an empty folder: $err"; fail=1;; esac
rmdir "$empty"
"$dorvex" --help | grep -q "encrypt TEXT" || { echo "FAIL: help lacks encrypt"; fail=1; }
if [ $fail -eq 0 ]; then echo "cli cipher: all passed"; fi
exit $fail
