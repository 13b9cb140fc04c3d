#!/usr/bin/env bash
# check_imports.sh OBJDUMP DLL LIST
# The product's DLL (i686) imports exactly what the failure sweep knows of:
# every function it takes from the platform's DLLs has a line in LIST
# (failure_sweep_imports.txt, which the sweep is built with), and every line
# for this build is imported.  It reads the import table with objdump, so it
# holds on every machine: one whose kernel refuses 32-bit code, and so skips
# the sweep under 32-bit Wine, still learns here of an import that only the
# i686 build has, before the sweep meets it on a machine that runs it.
set -euo pipefail
objdump=$1
dll=$2
list=$3
build=i686
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "DLL FUNCTION" for each import by name, the C runtime's left out as the
# sweep leaves it; an import by ordinal shows as #ORDINAL.  binutils 2.44
# (Debian 13) adds an Ordinal column ("<none>" for an import by name)
# before the hint, which its header line names.
"$objdump" -p "$dll" | awk '
  /^\tDLL Name: / { dll = $3; next }
  /^\tvma:/ { ordinal = / Ordinal /; next }
  dll != "" && ordinal && /^\t[0-9a-f]+ / { print dll, ($2 == "<none>" ? $4 : "#" $2) }
  dll != "" && !ordinal && /^\t[0-9a-f]+\t/ { print dll, ($3 != "" ? $3 : "#" $2) }
  /^$/ { dll = "" }' | awk 'tolower($1) != "msvcrt.dll"' | LC_ALL=C sort -u >"$work/imported"
[ -s "$work/imported" ] || { echo "no imports read from $dll"; exit 1; }

awk -v build=$build '!/^#/ && NF >= 4 && ($3 == "both" || $3 == build) { print $1, $2 }' "$list" |
  LC_ALL=C sort -u >"$work/listed"

fail=0
unknown=$(LC_ALL=C comm -23 "$work/imported" "$work/listed" | sed 's/ /!/')
stale=$(LC_ALL=C comm -13 "$work/imported" "$work/listed" | sed 's/ /!/')
if [ -n "$unknown" ]; then
  echo "imports the failure sweep does not know:" $unknown
  echo "(give each a line in $list: swept, with a wrapper in the sweep, or left alone and why)"
  fail=1
fi
if [ -n "$stale" ]; then
  echo "listed for the $build build but not imported:" $stale
  fail=1
fi
[ $fail -eq 0 ] || exit 1

count() { awk -v build=$build -v v="$1" '!/^#/ && NF >= 4 && ($3 == "both" || $3 == build) && $4 == v' "$list" | wc -l; }
echo "$(wc -l <"$work/imported") imports of $build $(basename "$dll"), all known to the failure sweep:" \
  "$(count swept) swept, $(count watched) watched, $(count alone) left alone"
