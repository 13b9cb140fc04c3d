#!/usr/bin/env bash
# check_monitor.sh RUNNER... -- MONITOR SAMPLES_DIR
# kvo-monitor as a user runs it: every sample replays to exactly the events
# its comments promise, in order, and with --all every message its comments
# call silent shows as silent; a recording replays to the same events; bad
# input is a clear error and a non-zero exit.
set -uo pipefail
runner=()
while [ "$1" != -- ]; do runner+=("$1"); shift; done
shift
monitor=$1
samples=$2
fail=0
# Where Wine cannot run this kind of program, say so the way CTest skips.
"${runner[@]}" "$monitor" --help >/dev/null 2>&1
[ $? -eq 77 ] && exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check() {  # check NAME CONDITION-MESSAGE
  echo "FAIL: $1"
  fail=1
}

# Ctrl-C for a monitor this script started: SIGINT, which Wine turns into the
# console's Ctrl-C event, to the Windows process among the job's descendants.
interrupt() {  # interrupt PID: the job's own process, or one below it
  local child found=1
  if tr '\0' ' ' <"/proc/$1/cmdline" 2>/dev/null | grep -q 'kvo-monitor\.exe'; then
    kill -INT "$1" && return 0
  fi
  for child in $(pgrep -P "$1"); do
    interrupt "$child" && found=0
  done
  return $found
}

events() {  # events OUTPUT: the event names of the lines that count
  tr -d '\r' <"$1" | awk '$3 == "ms" && $5 == "device" && $6 == "80" { print $4 }'
}

for sample in "$samples"/*.txt; do
  expected=$(sed -n 's/.*# -> \([0-9A-Z]\{13,\}\).*/\1/p' "$sample")
  if ! "${runner[@]}" "$monitor" --replay "$sample" >"$work/out" 2>"$work/err"; then
    check "$sample: exit code $?: $(cat "$work/err")"
    continue
  fi
  actual=$(events "$work/out")
  if [ "$actual" != "$expected" ]; then
    check "$sample: events differ"$'\n'"expected:"$'\n'"$expected"$'\n'"got:"$'\n'"$actual"
  fi
  grep -q '^KVORemote 1.0: KVO Remote Controller by Quorlen' "$work/out" || check "$sample: no identity line"
  grep -q "^stopped after $(echo "$expected" | grep -c .) events" "$work/out" || check "$sample: no summary"
  echo "$sample: $(echo "$expected" | grep -c .) events as promised"

  # --all: the same events, and one silent line, with its reason, for each
  # message the sample says gives none.
  base=$(basename "$sample")
  "${runner[@]}" "$monitor" --all --replay "$sample" --record "$work/$base.rec" >"$work/all" 2>&1 ||
    check "$sample --all: $(cat "$work/all")"
  [ "$(events "$work/all")" = "$expected" ] || check "$sample --all: the events differ"
  silent_expected=$(grep -c '# -> none' "$sample")
  silent=$(tr -d '\r' <"$work/all" | grep -c '^     - .* ms  .* silent     from recording  sent ')
  [ "$silent" -eq "$silent_expected" ] ||
    check "$sample --all: $silent silent lines, the sample has $silent_expected"
  grep -q 'expected' "$work/all" && check "$sample --all: kvo-monitor's reading disagrees with the plug-in: $(grep expected "$work/all")"
  grep -q "stopped after $(echo "$expected" | grep -c .) events, $silent_expected silent messages" "$work/all" ||
    check "$sample --all: no summary"
  # The recording of the replay is itself a replay file with the same events.
  "${runner[@]}" "$monitor" --replay "$work/$base.rec" >"$work/again" 2>&1 ||
    check "$sample: its recording does not replay: $(cat "$work/again")"
  [ "$(events "$work/again")" = "$expected" ] || check "$sample: its recording replays to other events"
  recorded=$(sed -n 's/.*# -> \([0-9A-Z]\{13,\}\).*/\1/p' "$work/$base.rec")
  [ "$recorded" = "$expected" ] || check "$sample: the recording's comments name other events"
  echo "$sample: --all shows $silent silent messages; its recording replays the same"
done

printf 'hid 3 1 01 CD 00\nhid 3 1 01 CD\n' >"$work/bad.txt"
"${runner[@]}" "$monitor" --replay "$work/bad.txt" >"$work/out" 2>"$work/err"
status=$?
[ $status -ne 0 ] || check "a malformed replay exits 0"
grep -q 'bad.txt:2: expected 3 report bytes (3 x 1), found 2' "$work/err" || check "malformed replay message: $(cat "$work/err")"
grep -q 'KVO' "$work/out" && check "a malformed replay fed events"

"${runner[@]}" "$monitor" --help >"$work/out" 2>&1 || check "--help exits non-zero"
grep -q 'usage: kvo-monitor' "$work/out" || check "--help prints no usage"
grep -q -- '--wait .*another program has the receiver' "$work/out" || check "--help does not tell of --wait"
grep -q '^3 another program has the receiver' "$work/out" || check "--help does not list exit code 3"
"${runner[@]}" "$monitor" --frobnicate >"$work/out" 2>&1 && check "an unknown option exits 0"
grep -q "unknown option '--frobnicate'" "$work/out" || check "unknown option message: $(cat "$work/out")"
"${runner[@]}" "$monitor" --dll no-such.dll >"$work/out" 2>&1 && check "a missing plug-in exits 0"
grep -q 'cannot load no-such.dll' "$work/out" || check "missing plug-in message: $(cat "$work/out")"
"${runner[@]}" "$monitor" --record "$work/no-such-folder/x.txt" >"$work/out" 2>&1 && check "an unwritable recording exits 0"
grep -q "cannot write the recording .*no-such-folder/x.txt" "$work/out" || check "unwritable recording message: $(cat "$work/out")"
grep -q capturing "$work/out" && check "capture started although the recording cannot be written"

# Live mode ends on Ctrl-C (Wine turns SIGINT into the console's Ctrl-C
# event) by stopping capture and closing the plug-in.
"${runner[@]}" "$monitor" --all --record "$work/live.rec" >"$work/live" 2>&1 &
live=$!
for _ in $(seq 600); do grep -q capturing "$work/live" && break; sleep 0.1; done
interrupt $live || check "live mode did not start: $(cat "$work/live")"
wait $live
status=$?
[ $status -eq 0 ] || check "live mode exited $status after Ctrl-C"
grep -q 'stopped after 0 events' "$work/live" || check "live mode did not stop cleanly: $(cat "$work/live")"
grep -q "recording to .*live.rec" "$work/live" || check "live mode does not say where it records"
grep -q '^# Replay:  kvo-monitor --replay' "$work/live.rec" || check "the live recording has no header"

[ $fail -eq 0 ] && echo "kvo-monitor: all checks passed"
exit $fail
