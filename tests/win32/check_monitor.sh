#!/usr/bin/env bash
# check_monitor.sh RUNNER... -- MONITOR SAMPLES_DIR USB_IDS [full-disk]
# kvo-monitor as a user runs it: every sample replays to exactly the events
# its comments promise, in order, with the key names recorded in it, and
# with --all every message its comments call silent shows as silent; a
# recording replays to the same events and names, and one made before names
# were kept still replays; bad input is a clear error and a non-zero exit.
# With full-disk, only this: a recording into a file system with 16 KiB
# free fails aloud, ends non-zero, and leaves nothing half-written.
set -uo pipefail
runner=()
while [ "$1" != -- ]; do runner+=("$1"); shift; done
shift
monitor=$1
samples=$2
usb_ids=$3
mode=${4:-}
fail=0
# Where Wine cannot run this kind of program, say so the way CTest skips.
"${runner[@]}" "$monitor" --help >/dev/null 2>&1
[ $? -eq 77 ] && exit 77
work=$(mktemp -d)
trap 'umount "$work/full" 2>/dev/null; rm -rf "$work"' EXIT

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
  tr -d '\r' <"$1" | awk '$1 ~ /^[0-9]+$/ && $3 == "ms" && / device 80  / { print $4 }'
}

# "EVENT NAMES" for each line that counts: the names stand between the
# event and the device number.
named() {  # named OUTPUT
  tr -d '\r' <"$1" | sed -n 's/^ *[0-9][0-9]* *[0-9.]* ms  \([^ ]*\)  \(.*\)  device 80  .*/\1 \2/p' |
    sed 's/ *$//'
}

# The same from a replay file: each line's promised event, and its names.
promised() {  # promised FILE
  sed -n -e 's/^hid[^"#]*"\([^"]*\)".*# -> \([0-9A-Z]\{13,\}\).*/\2 \1/p' \
    -e 's/^hid[^"#]*# -> \([0-9A-Z]\{13,\}\).*/\1/p' "$1"
}

# 2,000 messages, a press and its release each time: their recording is
# far more than 16 KiB.
full_disk() {
  mkdir "$work/full"
  if ! mount -t tmpfs -o size=16k tmpfs "$work/full" 2>"$work/mount.err"; then
    echo "SKIP: cannot mount a 16 KiB file system here: $(cat "$work/mount.err")"
    exit 77
  fi
  for _ in $(seq 1000); do printf 'hid 3 1 01 CD 00\nhid 3 1 01 00 00\n'; done >"$work/long.txt"
  "${runner[@]}" "$monitor" --replay "$work/long.txt" --record "$work/full/long.rec" >"$work/out" 2>"$work/err"
  local status=$?
  echo "a replay of 2000 messages recorded into 16 KiB: exit $status; it said: $(tr -d '\r' <"$work/err")"
  [ $status -ne 0 ] || check "a recording that could not be written ends with exit 0"
  [ "$(grep -c 'the recording .*long.rec could not be written (WriteFile: .*(error [0-9]*))' "$work/err")" -eq 1 ] ||
    check "no one line saying the recording could not be written, and why: $(cat "$work/err")"
  grep -q '^stopped after 1000 events' "$work/out" || check "the replay did not go on without its recording: $(tail -3 "$work/out")"
  [ -z "$(ls -A "$work/full")" ] || check "a half-written recording was left: $(ls -l "$work/full")"
  [ $fail -eq 0 ] && echo "kvo-monitor: a recording that cannot be written is said, and ends non-zero"
  exit $fail
}
[ "$mode" = full-disk ] && full_disk

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
  [ "$(named "$work/out")" = "$(promised "$sample")" ] ||
    check "$sample: the names shown differ from the recorded ones:"$'\n'"$(named "$work/out")"$'\n'"recorded:"$'\n'"$(promised "$sample")"
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
  # The names go from recording to recording, and show in each replay.
  [ "$(promised "$work/$base.rec")" = "$(promised "$sample")" ] || check "$sample: its recording lost the names"
  [ "$(named "$work/again")" = "$(promised "$sample")" ] || check "$sample: its recording replays with other names"
  echo "$sample: --all shows $silent silent messages; its recording replays the same, names and all"
done

# A recording made before names were kept (its lines have none) replays to
# its events, with no names shown.
cat >"$work/old.txt" <<'OLD'
# Raw input messages that KVORemote 1.0 received, recorded by kvo-monitor.
# Replay:  kvo-monitor --replay THIS-FILE
# After each message: the event it gave ("none" and why if it gave none),
# milliseconds since capture started, and the device that sent it.

hid 3 1 01 CD 00             # -> KVO000001CD00  at 1436.004 ms  from 1209:0002 000C:0001
hid 3 1 01 00 00             # -> none (release)  at 1438.857 ms  from 1209:0002 000C:0001
hid 2 1 04 0D                # -> KVO000000040D  at 1758.828 ms  from 1209:0001 FFBC:0088
hid 2 1 04 00                # -> none (release)  at 1762.856 ms  from 1209:0001 FFBC:0088
# ignored: hid 2 1 05 77  (ignored)  at 2094.820 ms  from 1209:0005 FFBC:0089
hid 3 1 01 E9 00             # -> KVO000001E900  at 2556.139 ms  from 1209:0002 000C:0001
hid 3 1 01 00 00             # -> none (release)  at 2556.269 ms  from 1209:0002 000C:0001
OLD
"${runner[@]}" "$monitor" --replay "$work/old.txt" >"$work/out" 2>&1 || check "an old recording does not replay: $(cat "$work/out")"
[ "$(named "$work/out" | tr '\n' ' ')" = "KVO000001CD00 KVO000000040D KVO000001E900 " ] ||
  check "an old recording replays as:"$'\n'"$(tr -d '\r' <"$work/out")"
echo "a recording without names: $(events "$work/out" | grep -c .) events, no names"

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
grep -q '^4 --devices found no receiver' "$work/out" || check "--help does not list exit code 4"
grep -q -- '--devices .*list every HID collection' "$work/out" || check "--help does not tell of --devices"
"${runner[@]}" "$monitor" --devices --all >"$work/out" 2>&1
[ $? -eq 2 ] || check "--devices with another option does not exit 2"
grep -q -- '--devices goes alone' "$work/out" || check "--devices with another option: $(cat "$work/out")"

# The names' source and its version, as usb.ids states it in its header.
"${runner[@]}" "$monitor" --version 2>&1 | tr -d '\r' >"$work/out" || check "--version exits non-zero"
usb_ids_version=$(sed -n 's/^# Version: *//p' "$usb_ids")
grep -q "^kvo-monitor [0-9.]* (KVORemote)$" "$work/out" || check "--version: $(cat "$work/out")"
grep -q "USB ID Repository (usb.ids) $usb_ids_version, " "$work/out" ||
  check "--version does not give usb.ids's version $usb_ids_version: $(cat "$work/out")"
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

# Ctrl-C stops a paced replay before its next message, a minute away: the
# first press is shown and recorded, and nothing after it is fed.
"${runner[@]}" "$monitor" --replay "$samples/bitmap-session.txt" --pace 60000 \
  --record "$work/paced.rec" >"$work/paced" 2>&1 &
paced=$!
for _ in $(seq 600); do grep -q KVO0000000308 "$work/paced" && break; sleep 0.1; done
asked=$(date +%s%N)
interrupt $paced || check "the paced replay did not start: $(cat "$work/paced")"
wait $paced
status=$?
took=$((($(date +%s%N) - asked) / 1000000))
echo "a replay paced 60000 ms stopped ${took} ms after Ctrl-C"
[ $status -eq 0 ] || check "the paced replay exited $status after Ctrl-C"
grep -q 'stopped after 1 events' "$work/paced" || check "the paced replay did not stop after its first press: $(cat "$work/paced")"
[ "$(grep -c '^hid' "$work/paced.rec")" -eq 1 ] || check "the paced replay recorded other than its first press: $(cat "$work/paced.rec")"

[ $fail -eq 0 ] && echo "kvo-monitor: all checks passed"
exit $fail
