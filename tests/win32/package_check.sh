#!/usr/bin/env bash
# package_check.sh SOURCE_DIR BUILD_DIR OBJDUMP VERSION_INFO RUNNER...
# The release zip as Windows sees it: a version resource that Windows reads
# back, and a monitor that works from the unpacked folder alone.  What needs
# no Wine (its files, sums, sections and tables) is package_tables.sh.
set -uo pipefail
source_dir=$1
build_dir=$2
objdump=$3
version_info=$4
shift 4
runner=("$@")
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check() {
  echo "FAIL: $1"
  fail=1
}

# Where this machine cannot run the DLL's kind of program, Wine says so
# with CTest's "skipped".
"${runner[@]}" "$version_info" >/dev/null 2>&1
[ $? -ne 77 ] || exit 77

if ! "$source_dir/tools/package" -B "$build_dir" -o "$work/dist" >"$work/package.txt"; then
  echo "FAIL: tools/package failed"
  exit 1
fi
zip=$(head -1 "$work/package.txt")
name=$(basename "$zip" -win32.zip)
version=${name#KVORemote-}
echo "package: $(basename "$zip"), $(stat -c %s "$zip") bytes"

unzip -q "$zip" -d "$work/unpacked" || { echo "FAIL: the zip does not unpack"; exit 1; }
folder=$work/unpacked/$name

# The version resource, as Explorer's Details tab reads it.
"${runner[@]}" "$version_info" "$folder/KVORemote.dll" "$folder/kvo-monitor.exe" >"$work/info" 2>&1 ||
  check "version resource unreadable: $(cat "$work/info")"
tr -d '\r' <"$work/info" | sed "s|^$folder/||" >"$work/shown"
cat "$work/shown"
for line in \
  "KVORemote.dll: fixed $version.0 $version.0 type 2" \
  "KVORemote.dll: ProductName=KVORemote" \
  "KVORemote.dll: FileDescription=KVO Remote Controller by Quorlen" \
  "KVORemote.dll: FileVersion=$version.0" \
  "KVORemote.dll: OriginalFilename=KVORemote.dll" \
  "kvo-monitor.exe: fixed $version.0 $version.0 type 1" \
  "kvo-monitor.exe: ProductName=KVORemote" \
  "kvo-monitor.exe: FileDescription=KVO Remote Controller by Quorlen" \
  "kvo-monitor.exe: FileVersion=$version.0" \
  "kvo-monitor.exe: OriginalFilename=kvo-monitor.exe"; do
  grep -qxF "$line" "$work/shown" || check "version resource lacks '$line'"
done

# The unpacked folder alone: the monitor finds the DLL beside it, and the
# identity it prints is the version the zip is named after.  A machine that
# runs no 32-bit code cannot do this part: the 64-bit build's test says so
# with KVO_RUN_PACKAGED_MONITOR=0.
status=77
if [ "${KVO_RUN_PACKAGED_MONITOR:-1}" != 0 ]; then
  "${runner[@]}" "$folder/kvo-monitor.exe" --replay "$folder/samples/remote-session.txt" >"$work/replay" 2>&1
  status=$?
fi
if [ $status -eq 77 ]; then
  echo "package: the packaged monitor not run: this machine runs no 32-bit programs"
else
  [ $status -eq 0 ] || check "the packaged monitor failed: $(cat "$work/replay")"
  tr -d '\r' <"$work/replay" >"$work/replayed"
  grep -q "^KVORemote ${version%.*}: KVO Remote Controller by Quorlen" "$work/replayed" ||
    check "the packaged DLL does not report version ${version%.*}: $(head -1 "$work/replayed")"
  grep -q '^stopped after 10 events' "$work/replayed" || check "the packaged monitor: $(cat "$work/replayed")"
  # The key names a sample recorded come with it, and show in its replay.
  grep -qE '^ +1 +[0-9.]+ ms  KVO000001CD00  Play/Pause +device 80 ' "$work/replayed" ||
    check "the packaged sample replays without its key names: $(cat "$work/replayed")"
fi

[ $fail -eq 0 ] && echo "package: all checks passed"
exit $fail
