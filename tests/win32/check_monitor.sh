#!/usr/bin/env bash
# check_monitor.sh RUNNER... -- MONITOR SAMPLES_DIR
# kvo-monitor as a user runs it: every sample replays to exactly the events
# its comments promise, in order; bad input is a clear error and a non-zero
# exit.
set -uo pipefail
runner=()
while [ "$1" != -- ]; do runner+=("$1"); shift; done
shift
monitor=$1
samples=$2
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check() {  # check NAME CONDITION-MESSAGE
  echo "FAIL: $1"
  fail=1
}

for sample in "$samples"/*.txt; do
  expected=$(sed -n 's/.*# -> \([0-9A-Z]\{13,\}\).*/\1/p' "$sample")
  if ! "${runner[@]}" "$monitor" --replay "$sample" >"$work/out" 2>"$work/err"; then
    check "$sample: exit code $?: $(cat "$work/err")"
    continue
  fi
  actual=$(tr -d '\r' <"$work/out" | awk '$3 == "ms" && $5 == "device" && $6 == "80" { print $4 }')
  if [ "$actual" != "$expected" ]; then
    check "$sample: events differ"$'\n'"expected:"$'\n'"$expected"$'\n'"got:"$'\n'"$actual"
  fi
  grep -q '^KVORemote 1.0: KVO Remote Controller by Quorlen' "$work/out" || check "$sample: no identity line"
  grep -q "^stopped after $(echo "$expected" | grep -c .) events" "$work/out" || check "$sample: no summary"
  echo "$sample: $(echo "$expected" | grep -c .) events as promised"
done

printf 'hid 3 1 01 CD 00\nhid 3 1 01 CD\n' >"$work/bad.txt"
"${runner[@]}" "$monitor" --replay "$work/bad.txt" >"$work/out" 2>"$work/err"
status=$?
[ $status -ne 0 ] || check "a malformed replay exits 0"
grep -q 'bad.txt:2: expected 3 report bytes (3 x 1), found 2' "$work/err" || check "malformed replay message: $(cat "$work/err")"
grep -q 'KVO' "$work/out" && check "a malformed replay fed events"

"${runner[@]}" "$monitor" --help >"$work/out" 2>&1 || check "--help exits non-zero"
grep -q 'usage: kvo-monitor' "$work/out" || check "--help prints no usage"
"${runner[@]}" "$monitor" --frobnicate >"$work/out" 2>&1 && check "an unknown option exits 0"
grep -q "unknown option '--frobnicate'" "$work/out" || check "unknown option message: $(cat "$work/out")"
"${runner[@]}" "$monitor" --dll no-such.dll >"$work/out" 2>&1 && check "a missing plug-in exits 0"
grep -q 'cannot load no-such.dll' "$work/out" || check "missing plug-in message: $(cat "$work/out")"

# Live mode ends on Ctrl-C (Wine turns SIGINT into the console's Ctrl-C
# event) by stopping capture and closing the plug-in.
"${runner[@]}" "$monitor" >"$work/live" 2>&1 &
live=$!
for _ in $(seq 200); do grep -q capturing "$work/live" && break; sleep 0.05; done
pkill -INT -f '^[^ ]*kvo-monitor\.exe' || check "live mode did not start: $(cat "$work/live")"
wait $live
status=$?
[ $status -eq 0 ] || check "live mode exited $status after Ctrl-C"
grep -q 'stopped after 0 events' "$work/live" || check "live mode did not stop cleanly: $(cat "$work/live")"

[ $fail -eq 0 ] && echo "kvo-monitor: all checks passed"
exit $fail
