#!/usr/bin/env bash
# package_reproducible.sh SOURCE_DIR BUILD_DIR
# Two builds of one source tree in different folders give byte-identical
# KVORemote.dll, kvo-monitor.exe and release zip: the tree under test is
# copied elsewhere, configured and built from nothing, and both packaged.
set -uo pipefail
source_dir=$(realpath "$1")
build_dir=$(realpath "$2")
work=$(mktemp -d /tmp/kvo-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
check() {
  echo "FAIL: $1"
  fail=1
}

# The files of the tree as it stands, committed or not, without build output.
(cd "$source_dir" && git ls-files -co --exclude-standard -z) |
  while IFS= read -r -d '' path; do
    [ -f "$source_dir/$path" ] && mkdir -p "$work/copy/$(dirname "$path")" &&
      cp -p "$source_dir/$path" "$work/copy/$path"
  done

# One date for both zips: the copy has no history to take it from.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct)
"$source_dir/tools/package" -B "$build_dir" -o "$work/first" >"$work/first.txt" || check "packaging the first build failed"
"$work/copy/tools/package" -B "$work/copy-build" -o "$work/second" >"$work/second.txt" ||
  check "packaging the second build failed"

for file in bin/KVORemote.dll bin/kvo-monitor.exe; do
  cmp "$build_dir/$file" "$work/copy-build/$file" || check "$file differs between the builds"
done
zip=$(head -1 "$work/first.txt")
cmp "$zip" "$work/second/$(basename "$zip")" || check "$(basename "$zip") differs between the builds"
echo "first build:  $build_dir"
echo "second build: $work/copy-build"
sed -n '2,$p' "$work/first.txt"
diff <(sed -n '2,$p' "$work/first.txt") <(sed -n '2,$p' "$work/second.txt") >/dev/null ||
  check "the checksums differ"
[ $fail -eq 0 ] && echo "reproducible: DLL, monitor and zip are byte-identical"
exit $fail
