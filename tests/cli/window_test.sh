#!/usr/bin/env bash
# dorvex window end to end on the file feeder: a scripted person scans and edits, every step
# prints the tree, the documents and the recovery file; an impossible action exits 2; and a
# person killed with SIGKILL at random moments loses no stored page: dorvex recover lists every
# unsent document with the pages the last step showed.
set -euo pipefail
dorvex=$1
work=$(mktemp -d)
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/feed"
for n in 1 2 3; do
  convert -size 600x800 xc:white -fill black -draw "rectangle 50,100 $((100 + 100 * n)),160" \
    -density 100 -units PixelsPerInch -type bilevel -compress Group4 "$work/feed/0$n.tif"
done
window() {  # window TMPNAME SCRIPT ARGS...
  local tmp=$work/$1 script=$2; shift 2
  DORVEX_TMPDIR=$tmp "$dorvex" window --method ShowSingleTwain --inno K1 --device "file:$work/feed" \
    --set Feeder=1 --set ScanMode=0 --set WPageRemove=0 --script "$script" "$@"
}

# Steps and their JSON.
printf 'scan\nselect K1 2\ncommand 刪除\n# a comment\nscan\n' > "$work/edit.txt"
out=$(window t1 "$work/edit.txt") || fail "edit script exit $?"
[ "$(wc -l <<< "$out")" -eq 4 ] || fail "four steps expected: $out"
last=$(tail -1 <<< "$out")
grep -q '"step":4,"action":"scan"' <<< "$last" || fail "step 4: $last"
grep -q '"documents":\[{"batch":"","inno":"K1","pages":5,' <<< "$last" || fail "K1 holds 5 pages: $last"
grep -q '"recovery":\[{"inno":"K1","pages":5}\]' <<< "$last" || fail "the recovery file lists K1 with 5 pages: $last"
sed -n 3p <<< "$out" | grep -q '"recovery":\[{"inno":"K1","pages":2}\]' || fail "after the delete: $out"

# "合併或分割" with nothing typed: the person presses 確定 on what the dialog offers (from page 1
# on, split, to a newly made number), so every page goes to the new number.
printf 'scan\nselect K1 2\ncommand 合併或分割\n' > "$work/split.txt"
out=$(window t5 "$work/split.txt") || fail "split script exit $?"
last=$(tail -1 <<< "$out")
new=$(sed -n 's/.*"documents":\[{"batch":"","inno":"\([^"]*\)","pages":3,.*/\1/p' <<< "$last")
[ -n "$new" ] && [ "$new" != K1 ] || fail "split into the offered number: $last"
grep -q "\"recovery\":\[{\"inno\":\"$new\",\"pages\":3}\]" <<< "$last" || fail "the recovery file follows the split: $last"

# An action that cannot be done.
printf 'scan\ncommand 不存在\nscan\n' > "$work/bad.txt"
set +e
window t2 "$work/bad.txt" > "$work/bad.out" 2> "$work/bad.err"
status=$?
set -e
[ "$status" -eq 2 ] || fail "unknown caption: exit $status"
[ "$(wc -l < "$work/bad.out")" -eq 1 ] || fail "nothing after the failing step: $(cat "$work/bad.out")"
grep -q '不存在' "$work/bad.err" || fail "the reason: $(cat "$work/bad.err")"

# The tree's context menu comes with recognition: its "刪除" is there only with --ocr. The
# second and third windows restore the first one's document from the recovery file.
multi() {  # multi SCRIPT ARGS...
  local script=$1; shift
  DORVEX_TMPDIR=$work/t3 "$dorvex" window --device "file:$work/feed" --set Feeder=1 --set ScanMode=0 \
    --set WPageRemove=0 --script "$script" "$@"
}
printf 'scan\n' > "$work/multi.txt"
inno=$(multi "$work/multi.txt" | sed -n 's/.*"documents":\[{"batch":"","inno":"\([^"]*\)".*/\1/p')
[ -n "$inno" ] || fail "no document scanned in the several-documents window"
printf 'tree %s 刪除\n' "$inno" > "$work/tree.txt"
set +e
multi "$work/tree.txt" > /dev/null 2> "$work/tree.err"
status=$?
set -e
[ "$status" -eq 2 ] || fail "the tree's menu without recognition: exit $status"
grep -q "no item '刪除'" "$work/tree.err" || fail "the reason: $(cat "$work/tree.err")"
out=$(multi "$work/tree.txt" --ocr) || fail "the tree's menu with recognition: exit $?"
grep -q '"documents":\[\]' <<< "$out" || fail "the document deleted from the tree: $out"

# Killed at random moments of a slow person's session.
{
  for round in 1 2 3 4 5 6; do
    printf 'scan\nwait 120\nselect K1 %d\ncommand 刪除\nwait 120\nselect K1 1\ncommand 逆時針旋轉\nwait 120\n' $((round % 2 + 1))
  done
} > "$work/slow.txt"
# kill_window_at_random METHOD INNO SCRIPT [ARGS...]: runs the window on a fresh temporary
# folder $work/k, kills it with SIGKILL at a random moment and sets $last to its last step.
kills=0
kill_window_at_random() {
  local method=$1 inno=$2 script=$3 pid
  shift 3
  rm -rf "$work/k"
  # The program itself is killed (not a shell around it), so nothing of it runs on.
  DORVEX_TMPDIR=$work/k "$dorvex" window --method "$method" --inno "$inno" --device "file:$work/feed" \
    --set Feeder=1 --set ScanMode=0 --set WPageRemove=0 --script "$script" "$@" > "$work/k.out" 2>/dev/null &
  pid=$!
  sleep "0.$((RANDOM % 9 + 1))$((RANDOM % 10))"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  kills=$((kills + 1))
  last=$(grep -a '^{.*}$' "$work/k.out" | tail -1 || true)
}
checked=0
for round in $(seq 1 "${DORVEX_WINDOW_KILLS:-8}"); do
  kill_window_at_random ShowSingleTwain K1 "$work/slow.txt"
  # Killed before the first scan ended: nothing was stored yet.
  grep -q '"documents":\[{"batch":"","inno":"K1"' <<< "$last" || continue
  want=$(sed 's/.*"documents":\[{"batch":"","inno":"K1","pages":\([0-9]*\),"state":\([0-9]*\).*/\1 \2/' <<< "$last")
  pages=${want% *}
  listed=$(DORVEX_TMPDIR=$work/k "$dorvex" recover --json)
  got=$(sed -n 's/.*"inno":"K1","pages":\([0-9]*\).*/\1/p' <<< "$listed")
  grep -q '"problems":\[\]' <<< "$listed" || fail "round $round: a damaged record: $listed"
  # The step under way when the kill came may have stored or deleted one page more.
  [ -n "$got" ] || fail "round $round: K1 not listed after $last"
  [ "$got" -ge $((pages - 1)) ] && [ "$got" -le $((pages + 3)) ] || fail "round $round: $got pages listed, the last step showed $pages"
  checked=$((checked + 1))
done
echo "kills survived: $kills, of them after a stored page: $checked"

# Killed while uploading to the reference server: a document the last step showed as sent is
# on the server with its pages and is never listed unsent; one not sent is listed.
"$dorvex" server --listen 127.0.0.1:0 --data "$work/data" > "$work/server.log" &
server=$!
for _ in $(seq 50); do grep -q listening "$work/server.log" && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$work/server.log")upload.php
[ -n "$url" ] || fail "the reference server did not start: $(cat "$work/server.log")"
{
  for round in 1 2 3 4; do
    printf 'scan\nwait 60\nselect K%d 1\ncommand 逆時針旋轉\nupload\nwait 150\n' "$round"
  done
} > "$work/send.txt"
held() { curl -sS --data-binary "<Request method=\"QueryImgInfoByInno\" operator=\"op\"><QueryImgInfoByInno inno=\"$1\"/></Request>" "$url"; }
sent=0
for round in $(seq 1 "${DORVEX_WINDOW_KILLS:-8}"); do
  inno=U$round
  sed "s/K\([0-9]\)/$inno/" "$work/send.txt" > "$work/send-$round.txt"
  kill_window_at_random ShowSingleTwainA "$inno" "$work/send-$round.txt" --server "$url" --operator op
  grep -q "\"documents\":\[{\"batch\":\"\",\"inno\":\"$inno\"" <<< "$last" || continue
  pages=$(sed 's/.*"documents":\[{"batch":"","inno":"[^"]*","pages":\([0-9]*\).*/\1/' <<< "$last")
  listed=$(DORVEX_TMPDIR=$work/k "$dorvex" recover --json)
  ! grep -q '"problems":\[[^]]' <<< "$listed" || fail "upload round $round: a damaged record: $listed"
  state=$(sed 's/.*"documents":\[{"batch":"","inno":"[^"]*","pages":[0-9]*,"state":\([0-9]*\).*/\1/' <<< "$last")
  if [ "$state" = 2 ] || [ "$state" = 11 ]; then
    # Sent, and the kill came before the next scan changed it.
    grep -q '"action":"upload"' <<< "$last" || continue
    ! grep -q "\"inno\":\"$inno\"" <<< "$listed" || fail "upload round $round: sent but listed unsent: $listed"
    grep -q '"recovery":\[\]' <<< "$last" || fail "upload round $round: sent but the recovery file lists it: $last"
    reply=$(held "$inno")
    grep -q "<Pages>$pages</Pages>" <<< "$reply" || fail "upload round $round: the server holds $reply, the last step showed $pages pages"
    sent=$((sent + 1))
  elif ! grep -q "\"inno\":\"$inno\"" <<< "$listed"; then
    # Not listed: only right if the upload under way when the kill came had finished, so the
    # server holds it with the pages the last step showed.
    reply=$(held "$inno")
    grep -q "<Pages>$pages</Pages>" <<< "$reply" || fail "upload round $round: unsent $inno not listed after $last, the server holds $reply"
  fi
done
echo "kills survived: $kills, of them right after an upload: $sent"
