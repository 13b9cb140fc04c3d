#!/usr/bin/env bash
# monitor_devices.sh KVO_REMOTE MONITOR USER_GUIDE RUNNER...
# kvo-monitor live, as a user first meets it, with real presses from the
# virtual receiver through Wine's HID stack: devices the plug-in hears (media
# keys as 8- and 16-bit codes, as a bitmap and as a value array; the
# receiver's own collection, also as Microsoft publishes it) and one it
# ignores, and a device swapped for another while it runs.
#
# A user first asks whether the receiver is seen at all (--devices, here and
# in a prefix with nothing plugged in); then presses keys: each event names
# the keys as the device's own descriptor describes them (the same names for
# an array's codes and a bitmap's bits, and the names the user guide gives),
# the device it came from and the bytes it sent; the receiver's buttons have
# the names and events the user guide's table gives; a device swapped for
# another is named as the new one; --all shows the releases
# and the ignored device as silent; the recording replays to the same events
# with the same names.
set -uo pipefail
remote=$1
monitor=$2
guide=$3
shift 3
runner=("$@")
fail=0
work=$(mktemp -d)
live=
fresh=$work/fresh-prefix
wine_prefix=$(dirname "${runner[0]}")/wine-prefix
trap '[ -n "$live" ] && interrupt $live; "$wine_prefix" stop "$fresh"; rm -rf "$work"' EXIT
check() {
  echo "FAIL: $1"
  fail=1
}

# Ctrl-C for the monitor this script started: SIGINT, which Wine turns into
# the console's Ctrl-C event, to the Windows process among the job's
# descendants.
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

# Waits (up to a minute) until the monitor has printed a line matching each
# pattern; devices have a reader thread each, so each step waits for its
# lines before the next device speaks, and the order is the script's.
wait_for() {  # wait_for PATTERN...
  local pattern
  for pattern in "$@"; do
    for _ in $(seq 600); do
      tr -d '\r' <"$work/live" | grep -qE "$pattern" && continue 2
      sleep 0.1
    done
    check "no line matching '$pattern' in:"$'\n'"$(cat "$work/live")"
  done
}

wait_count() {  # wait_count N PATTERN: until N lines match
  for _ in $(seq 600); do
    [ "$(tr -d '\r' <"$work/live" | grep -cE "$2")" -ge "$1" ] && return
    sleep 0.1
  done
  check "fewer than $1 lines matching '$2' in:"$'\n'"$(cat "$work/live")"
}

kvo_remote() {
  "${runner[@]}" "$remote" "$@" >"$work/remote.out" 2>&1 || check "kvo-remote $*: $(cat "$work/remote.out")"
}

events() { tr -d '\r' <"$1" | awk '$1 ~ /^[0-9]+$/ && $3 == "ms" && / device 80  / { print $4 }'; }
# "EVENT NAMES" for each event line, optionally only those from one device.
named() {  # named OUTPUT [DEVICE-IDS]
  tr -d '\r' <"$1" | grep -E "^ +[0-9]+ .* device 80  from ${2:-}" |
    sed 's/^ *[0-9][0-9]* *[0-9.]* ms  \([^ ]*\)  \(.*\)  device 80  .*/\1 \2/; s/ *$//'
}

"${runner[@]}" "$monitor" --help >/dev/null 2>&1
[ $? -ne 77 ] || exit 77
# The shared device fixture adds them too; adding what is there does nothing.
kvo_remote add media media-bitmap remote other ehome media-zero value-array swap-media

# --- Is the receiver seen at all?
"${runner[@]}" "$monitor" --devices >"$work/devices" 2>&1
status=$?
tr -d '\r' <"$work/devices" >"$work/listed"
echo "--- kvo-monitor --devices:"
cat "$work/listed"
[ $status -eq 0 ] || check "--devices exited $status with devices the plug-in hears"
product='(  "[^"]*")?$'
for line in \
  "heard    1209:0001 \(Generic\)  FFBC:0088 \(receiver page: the receiver's own collection\)$product" \
  "heard    1209:0002 \(Generic\)  000C:0001 \(Consumer: Consumer Control\)$product" \
  "heard    1209:0006 \(Generic\)  000C:0001 \(Consumer: Consumer Control\)$product" \
  "heard    1209:0007 \(Generic\)  FFBC:0088 \(receiver page: the receiver's own collection\)$product" \
  "heard    1209:0008 \(Generic\)  000C:0001 \(Consumer: Consumer Control\)$product" \
  "heard    1209:0009 \(Generic\)  000C:0001 \(Consumer: Consumer Control\)$product" \
  "ignored  1209:0005 \(Generic\)  FFBC:0089 \(receiver page: usage 0089\)$product"; do
  grep -qE "^  $line" "$work/listed" || check "--devices lists no line like '$line'"
done
heard=$(grep -c '^  heard ' "$work/listed")
listed=$(grep -cE '^  (heard|ignored) ' "$work/listed")
grep -qx "the plug-in hears $heard of $listed HID collections" "$work/listed" ||
  check "--devices: no verdict for $heard heard of $listed"

# With nothing plugged in (a prefix of its own: Wine's own keyboard and
# mouse only), it says so and exits 4.
"${runner[0]}" "$fresh" "$monitor" --devices >"$work/nothing" 2>&1
status=$?
echo "--- kvo-monitor --devices with nothing plugged in (exit $status):"
tr -d '\r' <"$work/nothing"
[ $status -eq 4 ] || check "--devices with nothing to hear exited $status, not 4"
tr -d '\r' <"$work/nothing" | grep -qx 'no receiver or media-key device found: plug one in' ||
  check "--devices with nothing to hear gives no verdict"
tr -d '\r' <"$work/nothing" | grep -q '^  heard ' && check "--devices hears something in an empty prefix"
"$wine_prefix" stop "$fresh"

# --- Pressing keys.
"${runner[@]}" "$monitor" --all --record "$work/session.txt" >"$work/live" 2>&1 &
live=$!
wait_for '^capturing'

# The product string follows where the device gives one (Wine's HID stack
# does not always pass the request on to the driver).
media='from 1209:0002 \(Generic\) 000C:0001( "KVO virtual media")?'
bitmap='from 1209:0006 \(Generic\) 000C:0001( "KVO virtual media-bitmap")?'
receiver='from 1209:0001 \(Generic\) FFBC:0088( "KVO virtual remote")?'
ehome='from 1209:0007 \(Generic\) FFBC:0088( "KVO virtual ehome")?'
zero='from 1209:0008 \(Generic\) 000C:0001( "KVO virtual media-zero")?'
values='from 1209:0009 \(Generic\) 000C:0001( "KVO virtual value-array")?'
swap_ehome='from 1209:000A \(Generic\) FFBC:0088( "KVO virtual swap-ehome")?'
swap_media='from 1209:000B \(Generic\) 000C:0001( "KVO virtual swap-media")?'
kvo_remote press media play
wait_for "^ +1 +[0-9.]+ ms  KVO000001CD00  Play/Pause +device 80  $media  sent 01 CD 00$" \
         "^ +- +[0-9.]+ ms  release +silent +$media  sent 01 00 00$"
kvo_remote send remote 040D 0400
wait_for "^ +2 +[0-9.]+ ms  KVO000000040D  Media Center \(receiver button 0D\) +device 80  $receiver  sent 04 0D$" \
         "^ +- +[0-9.]+ ms  release +silent +$receiver  sent 04 00$"
kvo_remote send other 0577
wait_for "^ +- +[0-9.]+ ms  ignored +receiver button 77 +silent +from 1209:0005 \(Generic\) FFBC:0089( \"KVO virtual other\")?  sent 05 77$"
kvo_remote press media volume-up
wait_for "^ +3 +[0-9.]+ ms  KVO000001E900  Volume Increment +device 80  $media  sent 01 E9 00$"
wait_count 2 "^ +- +[0-9.]+ ms  release +silent +$media  sent 01 00 00$"
# The rest of the media keys, then all of them again from a keyboard that
# sends them as bits: the bitmap's 03 08 is Play/Pause only because its
# descriptor says so.
keys=(play volume-up next previous stop mute volume-down)
kvo_remote press media "${keys[@]:2}"
wait_count 7 "^ +- +[0-9.]+ ms  release +silent +$media  sent 01 00 00$"
kvo_remote press media-bitmap "${keys[@]}"
wait_for "^ +[0-9]+ +[0-9.]+ ms  KVO0000000308  Play/Pause +device 80  $bitmap  sent 03 08$"
wait_count 7 "^ +- +[0-9.]+ ms  release +silent +$bitmap  sent 03 00$"
# The same keys from the layout most keyboards use: a 16-bit array whose
# usages and values both start at 0.
kvo_remote press media-zero "${keys[@]}"
wait_count 7 "^ +- +[0-9.]+ ms  release +silent +$zero  sent 06 00 00$"
# One usage over two bytes, a value array: the usage and its bytes.
kvo_remote send value-array 070102 070000
wait_for "^ +[0-9]+ +[0-9.]+ ms  KVO0000070102  Volume 0102 +device 80  $values  sent 07 01 02$" \
         "^ +- +[0-9.]+ ms  release +silent +$values  sent 07 00 00$"

# The receiver's collection as Microsoft publishes it: an array whose
# logical range (0-1) holds no code past 01; the code byte names the
# button, documented or not.  A report id the device does not declare (09)
# goes first: where Wine lets it through it must come before the others.
kvo_remote send ehome 090D
kvo_remote press ehome media-center 3B
wait_for "^ +[0-9]+ +[0-9.]+ ms  KVO000000020D  Media Center \(receiver button 0D\) +device 80  $ehome  sent 02 0D$" \
         "^ +[0-9]+ +[0-9.]+ ms  KVO000000023B  receiver button 3B +device 80  $ehome  sent 02 3B$"
# Then every button of the user guide's table, pressed by its name there.
sed -n '/^The buttons of a Media Center remote/,/^Finding your own/p' "$guide" |
  sed -nE 's/^ +([A-Za-z0-9-]+( [A-Za-z0-9-]+)*)  +(KVO[0-9A-F]{10})(  +([A-Za-z0-9-]+( [A-Za-z0-9-]+)*)  +(KVO[0-9A-F]{10}))?$/\3 \1\n\7 \5/p' |
  grep -v '^ *$' >"$work/buttons"
[ "$(wc -l <"$work/buttons")" -eq 46 ] || check "the user guide's table has $(wc -l <"$work/buttons") receiver buttons, not 46"
kvo_remote press ehome $(cut -d' ' -f2- "$work/buttons" | tr 'A-Z ' 'a-z-')
wait_count "$(($(wc -l <"$work/buttons") + 2))" "^ +[0-9]+ +[0-9.]+ ms  KVO00000002.*device 80  $ehome  sent 02 "

# A device swapped for another in one socket while the monitor runs: the
# same bytes, 01 41, are named as the device plugged in now names them.
# A device just plugged in takes a moment to start: press until it takes
# the report.
swap_to() {  # swap_to DEVICE
  kvo_remote add "$1"
  for _ in $(seq 100); do
    "${runner[@]}" "$remote" press "$1" 41 >"$work/remote.out" 2>&1 && return
    sleep 0.3
  done
  check "$1 did not start: $(cat "$work/remote.out")"
}
kvo_remote press swap-media 41
wait_for "^ +[0-9]+ +[0-9.]+ ms  KVO0000000141  Menu Pick +device 80  $swap_media  sent 01 41$"
swap_to swap-ehome
wait_for "^ +[0-9]+ +[0-9.]+ ms  KVO0000000141  Channel Info \(receiver button 41\) +device 80  $swap_ehome  sent 01 41$"
swap_to swap-media
wait_count 2 "^ +[0-9]+ +[0-9.]+ ms  KVO0000000141  Menu Pick +device 80  $swap_media  sent 01 41$"

interrupt $live || check "the monitor was not running"
wait $live
status=$?
live=
[ $status -eq 0 ] || check "kvo-monitor exited $status after Ctrl-C"
tr -d '\r' <"$work/live" >"$work/shown"
echo "--- kvo-monitor --all, live:"
cat "$work/shown"
shown_events=$(events "$work/shown" | wc -l)
grep -q "^stopped after $shown_events events, [0-9]* silent messages" "$work/shown" || check "no summary of $shown_events events"
grep -q 'expected' "$work/shown" && check "kvo-monitor's reading disagrees with the plug-in"

# Each key has one name, whether sent as a code, 8- or 16-bit, or as a bit.
for device in 1209:0006 1209:0008; do
  [ "$(named "$work/shown" 1209:0002 | sed 's/^[^ ]* //')" = "$(named "$work/shown" $device | sed 's/^[^ ]* //')" ] ||
    check "$device names the keys otherwise than the media array:"$'\n'"$(named "$work/shown" 1209:0002)"$'\n'"$(named "$work/shown" $device)"
done
# Wine drops a report whose id the device does not declare; one that came
# through must say so rather than name a button.
grep ' sent 09 0D$' "$work/shown" | grep -qv 'unknown to the device' &&
  check "a report with an undeclared id is named: $(grep ' sent 09 0D$' "$work/shown")"

# The user guide's table of media-remote events: each name it gives is the
# one kvo-monitor shows for that event.
sed -n '/^The events a media remote gives/,/^Releasing a key/p' "$guide" |
  sed -n 's/^ *\([A-Za-z/+ ]*[a-z]\)  *\(KVO[0-9A-F]\{10\}\)$/\2 \1/p' >"$work/guide"
[ "$(wc -l <"$work/guide")" -eq 7 ] || check "the user guide's table has $(wc -l <"$work/guide") media keys, not 7"
while read -r event name; do
  named "$work/shown" 1209:0002 | grep -qxF "$event $name" ||
    check "the user guide says $event is '$name'; kvo-monitor shows: $(named "$work/shown" | grep "^$event" | head -1)"
done <"$work/guide"
echo "the user guide's $(wc -l <"$work/guide") media keys have the names kvo-monitor shows"
# And its table of the receiver's buttons: the event and the name.
while read -r event name; do
  named "$work/shown" 1209:0007 | grep -qxF "$event $name (receiver button ${event:11:2})" ||
    check "the user guide says $event is '$name'; kvo-monitor shows: $(named "$work/shown" | grep "^$event" | head -1)"
done <"$work/buttons"
echo "the user guide's $(wc -l <"$work/buttons") receiver buttons have the names and events kvo-monitor shows"

# The recording: every message the plug-in received, none of the ignored
# device's, and it replays to the same events, with the same names, in the
# same order.
echo "--- the recording:"
cat "$work/session.txt"
# Every line but the ignored device's is a message the plug-in received.
received=$(grep -E '^ +([0-9]+|-) +[0-9.]+ ms  ' "$work/shown" | grep -vc ' ms  ignored ')
grep -c '^hid ' "$work/session.txt" | grep -qx "$received" ||
  check "the recording holds $(grep -c '^hid ' "$work/session.txt") messages, not $received"
grep -q '^# ignored: hid 2 1 05 77 "receiver button 77" ' "$work/session.txt" ||
  check "the ignored device's message is not noted as ignored"
"${runner[@]}" "$monitor" --replay "$work/session.txt" >"$work/replay" 2>&1 || check "replay failed: $(cat "$work/replay")"
echo "--- replayed:"
tr -d '\r' <"$work/replay"
[ "$(named "$work/replay")" = "$(named "$work/shown")" ] ||
  check "the replay gives other events or names than the live session"
[ "$(events "$work/shown" | head -3 | tr '\n' ' ')" = "KVO000001CD00 KVO000000040D KVO000001E900 " ] ||
  check "live events: $(events "$work/shown" | tr '\n' ' ')"

[ $fail -eq 0 ] && echo "kvo-monitor with devices: all checks passed"
exit $fail
