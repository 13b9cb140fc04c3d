#!/usr/bin/env bash
# The developer scripts of tools/ and bench/ against fake commands: asked
# for help (--help, -h) each prints its usage and exits 0, and given an
# argument it does not take each exits 2, both starting nothing (no set-up,
# no cmake, no Wine).  tools/check runs every preset whatever another did:
# with one preset that does not configure and one that does not build, the
# other three still run and report, each broken one counts as one failure,
# and the closing line adds them up.  bench/robustness writes the sweeps'
# figures, and stops on one it cannot find.  No build, no network, nothing
# installed.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
failures=0
fail() { echo "FAIL ($scenario): $*" >&2; failures=$((failures + 1)); }

# The tree: the scripts themselves, kvo-monitor's usage text (tools/demo
# reads its options there), and fakes of the set-up and Wine's scripts.
mkdir -p "$t/tree/tools" "$t/tree/bench" "$t/tree/monitor" "$t/bin"
cp "$repo/tools/check" "$repo/tools/demo" "$repo/tools/package" "$t/tree/tools/"
cp "$repo/bench/run" "$repo/bench/robustness" "$repo/bench/explorer-stress" "$t/tree/bench/"
cp "$repo/monitor/main.cpp" "$t/tree/monitor/"
fake() { # PATH BODY: a command that logs its call, then runs BODY
  printf '#!/bin/bash\necho "%s $*" >>"$FAKE_LOG"\n%s\n' "${1##*/}" "$2" >"$1"
  chmod +x "$1"
}
fake "$t/tree/tools/setup.sh" ':'
fake "$t/tree/tools/wine-prefix" '[ "$1" != can-run ] || { echo "32-bit Wine is faked away"; exit 1; }'
fake "$t/tree/tools/wine-run" '[ -z "$FAKE_WINE_OUTPUT" ] || cat "$FAKE_WINE_OUTPUT"'
for command in valgrind wine zip; do fake "$t/bin/$command" ':'; done
# cmake: "--preset P" makes build/P, except for $FAKE_BROKEN_CONFIGURE;
# "--build --preset P" fails for $FAKE_BROKEN_BUILD.
fake "$t/bin/cmake" '
if [ "$1" = --preset ]; then
  [ "$2" != "$FAKE_BROKEN_CONFIGURE" ] || { echo "CMake Error: a broken configure"; exit 1; }
  mkdir -p "build/$2"
elif [ "$1 $2" = "--build --preset" ]; then
  [ "$3" != "$FAKE_BROKEN_BUILD" ] || { echo "error: a broken build"; exit 1; }
fi'
# ctest: two tests pass; in $FAKE_FAILING_PRESET a third fails, in win32 a
# third is skipped with the reason Wine's prefix script gives.
fake "$t/bin/ctest" '
preset=$2
echo "1/3 Test #1: unit .............   Passed    0.10 sec"
echo "2/3 Test #2: host .............   Passed    0.20 sec"
if [ "$preset" = "$FAKE_FAILING_PRESET" ]; then
  echo "3/3 Test #3: monitor ..........***Failed    0.30 sec"; exit 8
elif [ "$preset" = win32 ]; then
  mkdir -p build/win32/Testing/Temporary
  echo "wine-prefix: the kernel is faked; these tests are skipped" >build/win32/Testing/Temporary/LastTest.log
  echo "3/3 Test #3: monitor ..........***Skipped   0.00 sec"
fi'

run() { # SCRIPT ARGS...: runs it in the tree with the fakes first on PATH
  : >"$t/log"
  rm -rf "$t/tree/build"
  (cd "$t/tree" && env PATH="$t/bin:$PATH" FAKE_LOG="$t/log" "${settings[@]}" \
    "$@" >"$t/out" 2>"$t/err" </dev/null) && status=0 || status=$?
}
started() { [ -s "$t/log" ] || [ -e "$t/tree/build" ]; }

settings=()
for script in tools/check tools/demo tools/package bench/run bench/robustness "bench/explorer-stress native 3"; do
  name=${script%% *}
  for help in --help -h; do
    scenario="$name $help"
    run $script $help
    [ "$status" -eq 0 ] || fail "exit $status: $(cat "$t/err")"
    [ "$(head -1 "$t/out")" = "usage: $name" ] || [[ $(head -1 "$t/out") == "usage: $name "* ]] ||
      fail "no usage first: $(head -3 "$t/out")"
    ! started || fail "started: $(cat "$t/log")"
  done
  scenario="$name --no-such-option"
  run $script --no-such-option
  [ "$status" -eq 2 ] || fail "exit $status"
  grep -q -- '--no-such-option' "$t/err" || fail "not named: $(cat "$t/err")"
  ! started || fail "started: $(cat "$t/log")"
done

# What tools/demo hands kvo-monitor gets past its check, as kvo-monitor's
# usage text lists it.
scenario="tools/demo with kvo-monitor's options"
run tools/demo --replay samples/remote-session.txt --pace 200
[ "$status" -eq 0 ] || fail "exit $status: $(cat "$t/err")"
grep -q 'wine-run .*kvo-monitor.exe --replay samples/remote-session.txt --pace 200$' "$t/log" ||
  fail "kvo-monitor not run with them: $(cat "$t/log")"

# One preset does not configure, another does not build: the other three
# run and report, and the closing line counts each broken one as a failure.
scenario="tools/check past broken presets"
settings=(FAKE_BROKEN_CONFIGURE=native-asan FAKE_BROKEN_BUILD=win32)
run tools/check
[ "$status" -eq 1 ] || fail "exit $status"
summary=$(sed -n '/^== summary$/,$p' "$t/out")
expected="== summary
native: 2 passed, 0 failed, 0 skipped
native-asan: not configured, see build-native-asan.log (counted as 1 failed)
native-tsan: 2 passed, 0 failed, 0 skipped
win32: build failed, see build/win32/build.log (counted as 1 failed)
win64: 2 passed, 0 failed, 0 skipped
6 passed, 2 failed"
[ "$summary" = "$expected" ] || fail "summary:"$'\n'"$summary"
[ "$(grep -c '^ctest ' "$t/log")" -eq 3 ] || fail "ctest ran $(grep -c '^ctest ' "$t/log") times"
grep -q 'a broken configure' "$t/out" || fail "the configure's output not shown"
grep -q 'error: a broken build' "$t/out" || fail "the build's error not shown"

# A failing test and a skip: every preset still runs; the closing line
# counts the failure and gives the skip's reason.
scenario="tools/check with a failing test"
settings=(FAKE_FAILING_PRESET=native)
run tools/check
[ "$status" -eq 1 ] || fail "exit $status"
[ "$(grep -c '^ctest ' "$t/log")" -eq 5 ] || fail "ctest ran $(grep -c '^ctest ' "$t/log") times"
grep -qx 'win32: 2 passed, 0 failed, 1 skipped: the kernel is faked' "$t/out" || fail "win32's line: $(cat "$t/out")"
[ "$(tail -1 "$t/out")" = "10 passed, 1 failed, 1 skipped (win32: the kernel is faked)" ] ||
  fail "closing line: $(tail -1 "$t/out")"

# bench/robustness reads the sweeps' lines as they print them now, and a
# figure it cannot find stops it, naming the sweep, with BENCHMARKS.md left
# as it was.
mkdir -p "$t/native/bin"
printf '%s\n' "swept 123 calls, 247 scenarios, 0 failures" \
  "166 calls in a clean session, 123 of them can fail; 0.9 s" >"$t/native.out"
fake "$t/native/bin/kvo_failure_sweep" 'cat "$FAKE_NATIVE_OUTPUT"'
printf '%s\r\n' "x86-64 build: 27 imports swept, 1 watched, 21 without a failure that matters left alone" \
  "swept 122 calls, 245 scenarios, 0 failures" "89.7 s" >"$t/wine.out"
printf '%s\n' "# Benchmarks" "" "## Robustness: old" "old figures" "" "## Latency on the real road" "kept" >"$t/benchmarks"
settings=(KVO_NATIVE_BUILD="$t/native" KVO_WIN64_BUILD="$t/win64" FAKE_NATIVE_OUTPUT="$t/native.out"
  FAKE_WINE_OUTPUT="$t/wine.out")
scenario="bench/robustness"
cp "$t/benchmarks" "$t/tree/BENCHMARKS.md"
run bench/robustness
[ "$status" -eq 0 ] || fail "exit $status: $(cat "$t/err")"
for figure in '| native (stand-in) | 123 | 247 | 0 | 0.9 s |' '| Wine, real DLL (x86-64) | 122 | 245 | 0 | 89.7 s |' \
    'Natively 166 calls' '27 imports swept, 1 watched, 21 without a failure that matters left alone.'; do
  grep -qF "$figure" "$t/tree/BENCHMARKS.md" || fail "no '$figure' in: $(cat "$t/tree/BENCHMARKS.md")"
done
! grep -q 'old figures' "$t/tree/BENCHMARKS.md" || fail "the old section stayed"
grep -qx 'kept' "$t/tree/BENCHMARKS.md" || fail "the next section went"

scenario="bench/robustness, a figure missing"
sed -i 's/^x86-64 build: .*/x86-64 build: 49 imports, all of them/' "$t/wine.out"
cp "$t/benchmarks" "$t/tree/BENCHMARKS.md"
run bench/robustness
[ "$status" -eq 1 ] || fail "exit $status"
grep -q '^bench/robustness: the sweep under Wine: found no .*imports swept' "$t/err" || fail "said: $(cat "$t/err")"
cmp -s "$t/benchmarks" "$t/tree/BENCHMARKS.md" || fail "BENCHMARKS.md changed"

[ $failures -eq 0 ] && echo "scripts: all checks passed"
exit $((failures > 0))
