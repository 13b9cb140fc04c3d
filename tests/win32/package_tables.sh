#!/usr/bin/env bash
# package_tables.sh SOURCE_DIR BUILD_DIR OBJDUMP
# The release zip, read without Wine, so on every machine: the files it
# should hold and no others, checksums that match, the user guide as it is
# in docs/, and two programs without debug sections whose tables are the
# product's: the DLL's exports and imports as check_pe_tables.sh wants them,
# and a monitor that needs no DLL but Windows' own (nothing of the MinGW
# runtime to ship beside it); the licence, and a notice for each third-party
# part either program carries.
set -uo pipefail
source_dir=$1
build_dir=$2
objdump=$3
fail=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check() {
  echo "FAIL: $1"
  fail=1
}

if ! "$source_dir/tools/package" -B "$build_dir" -o "$work/dist" >"$work/package.txt"; then
  echo "FAIL: tools/package failed"
  exit 1
fi
zip=$(head -1 "$work/package.txt")
name=$(basename "$zip" -win32.zip)
echo "package: $(basename "$zip"), $(stat -c %s "$zip") bytes"

entries=$(unzip -Z1 "$zip")
expected=$( (printf '%s\n' KVORemote.dll kvo-monitor.exe USER-GUIDE.txt LICENSE THIRD-PARTY-NOTICES.txt SHA256SUMS
  cd "$source_dir" && ls samples/*.txt) | sed "s|^|$name/|" | LC_ALL=C sort)
[ "$(echo "$entries" | LC_ALL=C sort)" = "$expected" ] ||
  check "zip entries:"$'\n'"$entries"$'\n'"expected:"$'\n'"$expected"

unzip -q "$zip" -d "$work/unpacked" || check "the zip does not unpack"
folder=$work/unpacked/$name
(cd "$folder" && sha256sum --quiet -c SHA256SUMS) || check "SHA256SUMS does not match the files"
[ "$(wc -l <"$folder/SHA256SUMS")" -eq $(($(echo "$expected" | wc -l) - 1)) ] ||
  check "SHA256SUMS does not list every other file"
cmp -s "$folder/USER-GUIDE.txt" "$source_dir/docs/user-guide.md" || check "the user guide differs from docs/"
cmp -s "$folder/LICENSE" "$source_dir/LICENSE" || check "LICENSE differs from the repository's"

# The notices are the repository's, with the "Built from" listing filled in
# by tools/package from what the build used: each part's Debian package at
# the version dpkg has installed, and the usb.ids version kvo-monitor
# carries.  On any Debian release, so an update cannot leave them stale.
without_listing() { awk '/^Built from:$/ { print; skip = 1; next } skip && /^$/ { skip = 0 } !skip' "$1"; }
cmp -s <(without_listing "$folder/THIRD-PARTY-NOTICES.txt") <(without_listing "$source_dir/THIRD-PARTY-NOTICES.txt") ||
  check "THIRD-PARTY-NOTICES.txt differs from the repository's beyond its 'Built from' listing"
listing=$(awk '/^Built from:$/ { on = 1; next } on && /^$/ { exit } on' "$folder/THIRD-PARTY-NOTICES.txt")
for part in "MinGW-w64 runtime" "GCC runtime libraries" gdtoa winpthreads; do
  package=$(grep -F "[$part]" <<<"$listing" | sed -n 's/.*Debian package \([^ ]*\) \([^ ]*\).*/\1 \2/p')
  [ -n "$package" ] || { check "the notices name no package for [$part]: $listing"; continue; }
  installed=$(dpkg-query -W -f='${Version}' "${package% *}" 2>/dev/null)
  [ "${package#* }" = "$installed" ] ||
    check "the notices name ${package% *} ${package#* } for [$part], but ${installed:-no version} is installed"
done
usb_ids=$(grep -F "[USB ID Repository]" <<<"$listing" | sed -n 's/.*usb\.ids \([^ ]*\) (.*/\1/p')
{ [ -n "$usb_ids" ] && grep -qaF "$usb_ids" "$build_dir/bin/kvo-monitor.exe"; } ||
  check "the notices' usb.ids version '${usb_ids}' is not the one kvo-monitor.exe carries"

# Each third-party part a program carries, told by its symbols in the build
# the zip's stripped copy was made from, needs its notice: a [PART] heading
# in THIRD-PARTY-NOTICES.txt with a copyright line under it.
notices=$folder/THIRD-PARTY-NOTICES.txt
has_notice() {
  awk -v heading="[$1]" '$0 == heading { inside = 1; next } inside && /^\[.*\]$/ { inside = 0 }
    inside && /Copyright/ { found = 1 } END { exit !found }' "$notices"
}
for program in KVORemote.dll kvo-monitor.exe; do
  "$objdump" -t "$build_dir/bin/$program" | awk '{ print $NF }' >"$work/symbols"
  carried=
  while IFS='|' read -r part symbols; do
    grep -qE "$symbols" "$work/symbols" || continue
    carried+=" [$part]"
    has_notice "$part" || check "$program carries $part but THIRD-PARTY-NOTICES.txt has no notice for it"
  done <<'PARTS'
MinGW-w64 runtime|pei386_runtime_relocator
GCC runtime libraries|^___chkstk_ms$|^__Unwind_|^__ZNSt|^___cxa_
gdtoa|^___gdtoa$|^___strtodg$
winpthreads|^_pthread_(create|mutex_lock|cond_wait|once)$
USB ID Repository|^_kUsbIdsVersion$
PARTS
  echo "$program carries:$carried"
done

for program in KVORemote.dll kvo-monitor.exe; do
  sections=$("$objdump" -h "$folder/$program" | awk '$2 ~ /^\.debug/ { print $2 }' | tr '\n' ' ')
  [ -z "$sections" ] || check "$program keeps debug sections: $sections"
done
echo "KVORemote.dll: $(stat -c %s "$build_dir/bin/KVORemote.dll") bytes built," \
  "$(stat -c %s "$folder/KVORemote.dll") packaged, no debug sections in it or kvo-monitor.exe"
"$source_dir/tests/win32/check_pe_tables.sh" "$objdump" "$folder/KVORemote.dll" >"$work/pe" ||
  check "packaged DLL's tables: $(cat "$work/pe")"

# The monitor loads the DLL itself, as a host does; all it links to is
# Windows' own.
monitor_dlls=$("$objdump" -p "$folder/kvo-monitor.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort)
for dll in $monitor_dlls; do
  case $dll in
    KERNEL32.DLL | USER32.DLL | GDI32.DLL | ADVAPI32.DLL | OLEAUT32.DLL | MSVCRT.DLL | HID.DLL | SETUPAPI.DLL | CFGMGR32.DLL) ;;
    *) check "kvo-monitor.exe imports $dll, which is not Windows' own" ;;
  esac
done
echo "kvo-monitor.exe imports:" $monitor_dlls

[ $fail -eq 0 ] && echo "package: all checks passed"
exit $fail
