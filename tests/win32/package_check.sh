#!/usr/bin/env bash
# package_check.sh SOURCE_DIR BUILD_DIR OBJDUMP VERSION_INFO RUNNER...
# The release zip as a Windows user gets it: the files it should hold and no
# others, checksums that match, programs without debug sections whose export
# and import tables are the product's, a version resource that Windows reads
# back, and a monitor that works from the unpacked folder alone.
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

entries=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
expected=$( (printf '%s\n' KVORemote.dll kvo-monitor.exe USER-GUIDE.txt SHA256SUMS
  cd "$source_dir" && ls samples/*.txt) | sed "s|^|$name/|" | LC_ALL=C sort)
[ "$(echo "$entries" | LC_ALL=C sort)" = "$expected" ] ||
  check "zip entries:"$'\n'"$entries"$'\n'"expected:"$'\n'"$expected"

python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$work/unpacked"
folder=$work/unpacked/$name
(cd "$folder" && sha256sum --quiet -c SHA256SUMS) || check "SHA256SUMS does not match the files"
[ "$(wc -l <"$folder/SHA256SUMS")" -eq $(($(echo "$expected" | wc -l) - 1)) ] ||
  check "SHA256SUMS does not list every other file"
cmp -s "$folder/USER-GUIDE.txt" "$source_dir/docs/user-guide.md" || check "the user guide differs from docs/"

for program in KVORemote.dll kvo-monitor.exe; do
  sections=$("$objdump" -h "$folder/$program" | awk '$2 ~ /^\.debug/ { print $2 }' | tr '\n' ' ')
  [ -z "$sections" ] || check "$program keeps debug sections: $sections"
done
dll_size=$(stat -c %s "$folder/KVORemote.dll")
echo "KVORemote.dll: $(stat -c %s "$build_dir/bin/KVORemote.dll") bytes built, $dll_size packaged"
"$source_dir/tests/win32/check_pe_tables.sh" "$objdump" "$folder/KVORemote.dll" >"$work/pe" ||
  check "packaged DLL's tables: $(cat "$work/pe")"

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
fi

[ $fail -eq 0 ] && echo "package: all checks passed"
exit $fail
