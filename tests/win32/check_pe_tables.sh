#!/usr/bin/env bash
# check_pe_tables.sh OBJDUMP DLL
# The DLL a host loads: exactly our ten undecorated exports (no _name@N), imports from the
# system DLLs only (no MinGW runtime DLL to ship), and no section shared
# between processes: nothing of one host's capture may be reachable from
# another's.
set -euo pipefail
objdump=$1
dll=$2
fail=0

# Each entry's name is its last word: binutils 2.44 (Debian 13) puts the
# ordinal and hint before it ("[   0] +base[   1]  0000 WndProc").
exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^\s*\[ *[0-9]*\] \(.* \)\{0,1\}\([^ ]*\)$/\2/p' | sort | tr '\n' ' ')
want="WndProc gir_close gir_description gir_devicenum gir_name gir_open gir_requested_api gir_start gir_stop gir_version "
# Plain names as a host asks for them: no __stdcall _name@bytes.
decorated=$(printf '%s\n' $exports | grep -E '^_|@[0-9]+$' | tr '\n' ' ' || true)
if [ -n "$decorated" ]; then
  echo "exports decorated as __stdcall: $decorated"
  fail=1
elif [ "$exports" != "$want" ]; then
  echo "exports: got '$exports', want '$want'"
  fail=1
fi

imports=$("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
for name in $imports; do
  case $name in
    KERNEL32.DLL | USER32.DLL | OLEAUT32.DLL | MSVCRT.DLL) ;;
    *) echo "imports: $name is not a system DLL every Windows has"; fail=1 ;;
  esac
done

shared=$("$objdump" -h "$dll" | grep -B1 'SHARED' | sed -n 's/^ *[0-9]* \([^ ]*\) .*/\1/p' || true)
if [ -n "$shared" ]; then
  echo "sections shared between processes: $shared"
  fail=1
fi

machine=$("$objdump" -f "$dll" | sed -n 's/.*file format //p')
[ "$machine" = pei-i386 ] || { echo "format: $machine, want pei-i386"; fail=1; }

[ $fail -eq 0 ] && echo "exports: $exports" && echo "imports: $imports" && echo "no shared section"
exit $fail
