#!/usr/bin/env bash
# monitor_devices.sh KVO_REMOTE MONITOR RUNNER...
# kvo-monitor live, as a user first meets it, with real presses from the
# virtual receiver through Wine's HID stack: two devices the plug-in hears
# (media keys and the receiver's own collection) and one it ignores.  Each
# event names the device it came from and the bytes it sent; --all shows the
# releases and the ignored device as silent; the recording replays to the
# same events in the same order.
set -uo pipefail
remote=$1
monitor=$2
shift 2
runner=("$@")
fail=0
work=$(mktemp -d)
live=
trap '[ -n "$live" ] && interrupt $live; rm -rf "$work"' EXIT
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

"${runner[@]}" "$monitor" --help >/dev/null 2>&1
[ $? -ne 77 ] || exit 77
# The shared device fixture adds them too; adding what is there does nothing.
kvo_remote add media remote other

"${runner[@]}" "$monitor" --all --record "$work/session.txt" >"$work/live" 2>&1 &
live=$!
wait_for '^capturing'

# The product string follows where the device gives one (Wine's HID stack
# does not always pass the request on to the driver).
media='from 1209:0002 000C:0001( "KVO virtual media")?'
receiver='from 1209:0001 FFBC:0088( "KVO virtual remote")?'
kvo_remote press media play
wait_for "^ +1 +[0-9.]+ ms  KVO000001CD00  device 80  $media  sent 01 CD 00$" \
         "^ +- +[0-9.]+ ms  release +silent +$media  sent 01 00 00$"
kvo_remote send remote 040D 0400
wait_for "^ +2 +[0-9.]+ ms  KVO000000040D  device 80  $receiver  sent 04 0D$" \
         "^ +- +[0-9.]+ ms  release +silent +$receiver  sent 04 00$"
kvo_remote send other 0577
wait_for "^ +- +[0-9.]+ ms  ignored +silent +from 1209:0005 FFBC:0089( \"KVO virtual other\")?  sent 05 77$"
kvo_remote press media volume-up
wait_for "^ +3 +[0-9.]+ ms  KVO000001E900  device 80  $media  sent 01 E9 00$"
wait_count 2 "^ +- +[0-9.]+ ms  release +silent +$media  sent 01 00 00$"

interrupt $live || check "the monitor was not running"
wait $live
status=$?
live=
[ $status -eq 0 ] || check "kvo-monitor exited $status after Ctrl-C"
tr -d '\r' <"$work/live" >"$work/shown"
echo "--- kvo-monitor --all, live:"
cat "$work/shown"
grep -q '^stopped after 3 events, [0-9]* silent messages' "$work/shown" || check "no summary of 3 events"
grep -q 'expected' "$work/shown" && check "kvo-monitor's reading disagrees with the plug-in"

# The recording: every message the plug-in received, none of the ignored
# device's, and it replays to the same events in the same order.
echo "--- the recording:"
cat "$work/session.txt"
grep -c '^hid ' "$work/session.txt" | grep -qx 6 || check "the recording holds $(grep -c '^hid ' "$work/session.txt") messages, not 6"
grep -q '^# ignored: hid 2 1 05 77 ' "$work/session.txt" || check "the ignored device's message is not noted as ignored"
events() { tr -d '\r' <"$1" | awk '$3 == "ms" && $5 == "device" && $6 == "80" { print $4 }'; }
"${runner[@]}" "$monitor" --replay "$work/session.txt" >"$work/replay" 2>&1 || check "replay failed: $(cat "$work/replay")"
echo "--- replayed:"
tr -d '\r' <"$work/replay"
[ "$(events "$work/replay")" = "$(events "$work/live")" ] || check "the replay gives other events than the live session"
[ "$(events "$work/live" | tr '\n' ' ')" = "KVO000001CD00 KVO000000040D KVO000001E900 " ] ||
  check "live events: $(events "$work/live" | tr '\n' ' ')"

[ $fail -eq 0 ] && echo "kvo-monitor with devices: all checks passed"
exit $fail
