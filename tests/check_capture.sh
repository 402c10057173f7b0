#!/usr/bin/env bash
# Records a pelk ping session, reads it back with tshark and the dissector
# field by field and with pelk trace, replays it through zbhost --replay
# (unchanged, and with one recorded tag changed), and feeds damaged copies to
# all three readers. Runs inside tests/support/sandbox.sh.
# Usage: check_capture.sh ZBHOST PELK DISSECTOR
set -euo pipefail
zbhost=$1 pelk=$2 lua=$3
command -v tshark >/dev/null || { echo "tshark is not installed"; exit 77; }
work=$(mktemp -d)
trap 'kill %1 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
wait_zbhost() { for _ in $(seq 100); do [ -p /dev/ZBHostManagerOut ] && return; sleep 0.05; done; fail "zbhost did not start"; }

"$zbhost" & wait_zbhost
"$pelk" ping --count 3 --size 5 --capture "$work/golden.pcapng" >/dev/null
kill %1; wait %1 || true

fields() { tshark -X "lua_script:$lua" -r "$1" -T fields -E separator=' ' "${@:2}" 2>/dev/null; }
# What pelk ping sent: type 1 to address 1:0, tag n, word0 n, one parameter
# (the size) and five bytes "abcde"; the echo comes back from 1:0.
expected_out="" expected_in=""
# Statuses are named as pelk trace names them; Source and Destination are the
# object and the address words the message went to or came from.
for n in 1 2 3; do
    expected_out+="out 1 1 0 $n 2 5 $n 1 5 6162636465 0 OK zbhost pipe 0 zbhost pipe 0 1:0"$'\n'
    expected_in+="in 1 1 0 $n 2 5 $n 1 5 0 OK 1:0 zbhost pipe 0"$'\n'
done
[ "$(fields "$work/golden.pcapng" -Y 'pelk.kind == 1' -e pelk.direction -e pelk.type -e pelk.dst1 \
      -e pelk.dst2 -e pelk.tag -e pelk.numbufs -e pelk.buflen -e pelk.word0 -e pelk.param_count \
      -e pelk.param0 -e pelk.data -e pelk.status -e pelk.status_name -e frame.interface_name \
      -e _ws.col.Source -e _ws.col.Destination)" \
  = "${expected_out%$'\n'}" ] || fail "sent records differ in tshark"
[ "$(fields "$work/golden.pcapng" -Y 'pelk.kind == 2' -e pelk.direction -e pelk.type -e pelk.src1 \
      -e pelk.src2 -e pelk.tag -e pelk.numbufs -e pelk.buflen -e pelk.word0 -e pelk.param_count \
      -e pelk.param0 -e pelk.status -e pelk.status_name -e _ws.col.Source -e _ws.col.Destination)" \
  = "${expected_in%$'\n'}" ] || fail "received records differ in tshark"
[ "$(fields "$work/golden.pcapng" -Y 'pelk.kind == 5' -e pelk.status_name -e _ws.col.Source \
      -e _ws.col.Destination)" = "OK zbhost pipe 0 zbhost" ] || fail "operation record in tshark"
[ "$(fields "$work/golden.pcapng" -Y 'pelk.tag == 2 && pelk.kind == 3' -e pelk.data)" = 6162636465 ] ||
    fail "pelk.tag filter or received data"

"$pelk" trace "$work/golden.pcapng" >"$work/trace.txt"
[ "$(grep -c ' tag 2 header 56 buffers 5 status 0 OK$' "$work/trace.txt")" = 2 ] || fail "pelk trace"
[ "$("$pelk" trace --json-lines "$work/golden.pcapng" | grep -c '"kind":"sent"')" = 3 ] ||
    fail "trace --json-lines"
# --json is one document holding every record.
[ "$("$pelk" trace --json "$work/golden.pcapng" | python3 -c 'import json, sys
document = json.load(sys.stdin)
print(document["ok"], document["count"], sum(r["kind"] == "sent" for r in document["records"]))')" \
  = "True 10 3" ] || fail "trace --json"

replay() {  # capture [count [zbhost options]], then the exit status of zbhost --replay
    "$zbhost" --replay "$1" "${@:3}" >"$work/replay.out" 2>"$work/replay.err" & wait_zbhost
    "$pelk" ping --count "${2:-3}" --size 5 >/dev/null 2>&1 || true
    local status=0; wait %1 || status=$?; echo $status
}
[ "$(replay "$work/golden.pcapng")" = 0 ] || fail "unchanged replay: $(cat "$work/replay.err")"
grep -q '3 matched, 0 differing, 0 unanswered, 0 unexpected' "$work/replay.err" ||
    fail "replay summary"
# A client that sends one message more than the capture holds fails the run;
# one that sends one fewer leaves a recorded message unanswered.
[ "$(replay "$work/golden.pcapng" 4)" = 1 ] || fail "a message more passed"
grep -q 'message 4 (tag 4) is unexpected: it is beyond the end of the capture' "$work/replay.err" &&
    grep -q '3 matched, 0 differing, 0 unanswered, 1 unexpected$' "$work/replay.err" ||
    fail "unexpected message not named: $(cat "$work/replay.err")"
[ "$(replay "$work/golden.pcapng" 2)" = 1 ] || fail "a message fewer passed"
grep -q '2 matched, 0 differing, 1 unanswered, 0 unexpected' "$work/replay.err" ||
    fail "unanswered message not counted: $(cat "$work/replay.err")"
# --json: the summary as one object on stdout, nothing on standard error.
[ "$(replay "$work/golden.pcapng" 4 --json)" = 1 ] || fail "a message more passed with --json"
[ ! -s "$work/replay.err" ] || fail "replay --json wrote to standard error: $(cat "$work/replay.err")"
[ "$(python3 -c 'import json, sys
summary = json.load(open(sys.argv[1]))
print(summary["command"], summary["ok"], summary["matched"], summary["unexpected"],
      summary["unexpectedMessages"][0]["tag"], summary["error"]["text"])' "$work/replay.out")" \
  = "replay False 3 1 4 3 matched, 0 differing, 0 unanswered, 1 unexpected" ] ||
    fail "replay --json: $(cat "$work/replay.out")"

# Tag 2 of the second sent record becomes 9.
offset=$("$pelk" trace --json-lines "$work/golden.pcapng" | grep '"kind":"sent"' | sed -n 2p |
         sed 's/.*"offset":\([0-9]*\).*/\1/')
cp "$work/golden.pcapng" "$work/changed.pcapng"
printf '\x09' | dd of="$work/changed.pcapng" bs=1 seek=$((offset + 64)) conv=notrunc 2>/dev/null
[ "$(replay "$work/changed.pcapng")" = 1 ] || fail "changed replay passed"
grep -q "capture offset $offset): tag: recorded 9, received 2" "$work/replay.err" ||
    fail "difference not named: $(cat "$work/replay.err")"

# Damaged copies: one cut inside its last block, one whose first record has
# version 7, and three whose second sent record declares 6 buffers, has a
# wrong trailing length, or an option running past its block.
size=$(stat -c %s "$work/golden.pcapng")
head -c $((size - 6)) "$work/golden.pcapng" >"$work/cut.pcapng"
length=$(od -An -tu4 -j $((offset + 4)) -N4 "$work/golden.pcapng" | tr -d ' ')
damage() {  # name, offset, byte
    cp "$work/golden.pcapng" "$work/$1.pcapng"
    printf "\\x$(printf %02x "$3")" | dd of="$work/$1.pcapng" bs=1 seek="$2" conv=notrunc 2>/dev/null
}
damage version $((96 + 28)) 7
damage buffers $((offset + 68)) 6
damage trailer $((offset + length - 4)) $((length + 4))
damage option $((offset + length - 14)) 12
for damaged in "cut:runs past the end of the file" "version:record version 7 is not supported" \
        "buffers:descriptor declares 6 buffers" "trailer:trailing block length differs" \
        "option:option length 12 runs past its block"; do
    name=${damaged%%:*} text=${damaged#*:}
    status=0; "$pelk" trace "$work/$name.pcapng" >/dev/null 2>"$work/err" || status=$?
    [ $status = 1 ] && grep -q "offset [0-9]*: .*$text" "$work/err" || fail "pelk trace on $name file"
    status=0; "$zbhost" --replay "$work/$name.pcapng" 2>"$work/err" || status=$?
    [ $status = 2 ] && grep -q 'offset [0-9]*: ' "$work/err" || fail "zbhost --replay on $name file"
done
status=0; "$zbhost" --replay "$work/cut.pcapng" --json >"$work/out" || status=$?
[ $status = 2 ] && grep -q '"name":"failed","text":"[^"]*offset [0-9]*: .*"during":"read the capture"' \
    "$work/out" || fail "zbhost --replay --json on a cut file: $(cat "$work/out")"
# Timestamps in the unit the object declares: 10 is tenths of nanoseconds.
first_time() { "$pelk" trace --json-lines "$1" | head -1 | sed 's/.*"timeNs":\([0-9]*\).*/\1/'; }
damage tenths 84 10
[ "$(first_time "$work/tenths.pcapng")" = $(($(first_time "$work/golden.pcapng") / 10)) ] ||
    fail "timestamp resolution"
[ "$(fields "$work/version.pcapng" -e pelk.error | head -1)" = "offset 0: record version 7 is not supported" ] ||
    fail "dissector on a bad record"
echo "capture checks passed"
