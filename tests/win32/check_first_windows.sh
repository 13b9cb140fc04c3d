#!/usr/bin/env bash
# check_first_windows.sh OBJDUMP LIST WINDOWS PROGRAM [WINDOWS PROGRAM...]
# Each PROGRAM runs on WINDOWS and later (XP, 7...): every function it
# imports has a line in LIST (imports-first-windows.txt) whose first Windows
# is no newer, and its code passes no wake mask with Windows 8's QS_TOUCH or
# QS_POINTER, which older Windows refuse (QS_ALLINPUT, QS_INPUT or
# QS_ALLEVENTS as headers set for Windows 8 give them).  It reads the tables
# and the code with objdump, so it holds on every machine, Wine or not.
set -euo pipefail
objdump=$1
list=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Windows by name, as comparable numbers (NT major * 100 + minor).
rank() {
  case $1 in
    2000) echo 500 ;; XP) echo 501 ;; Vista) echo 600 ;; 7) echo 601 ;;
    8) echo 602 ;; 8.1) echo 603 ;; 10) echo 1000 ;; *) echo "unknown Windows '$1'" >&2; echo 9999 ;;
  esac
}

awk '!/^#/ && NF >= 3 { print tolower($1), $2, $3 }' "$list" | LC_ALL=C sort -u >"$work/listed"
fail=0
while [ $# -ge 2 ]; do
  floor=$1
  program=$2
  shift 2
  name=$(basename "$program")
  "$objdump" -p "$program" | awk '
    /^\tDLL Name: / { dll = tolower($3); next }
    /^\tvma:/ { next }
    dll != "" && /^\t[0-9a-f]+\t/ { print dll, ($3 != "" ? $3 : "#" $2) }
    /^$/ { dll = "" }' | LC_ALL=C sort -u >"$work/imported"
  [ -s "$work/imported" ] || { echo "no imports read from $name"; exit 1; }

  unknown=$(LC_ALL=C join -v1 <(awk '{ print $1 "!" $2 }' "$work/imported") \
    <(awk '{ print $1 "!" $2 }' "$work/listed") || true)
  if [ -n "$unknown" ]; then
    echo "$name imports functions that $(basename "$list") does not list:" $unknown
    echo "(give each a line with the first Windows that has it, from Microsoft's documentation)"
    fail=1
  fi
  newest=0
  newestName=
  too_new=
  while read -r dll function first; do
    r=$(rank "$first")
    if [ "$r" -gt "$(rank "$floor")" ]; then too_new+=" $dll!$function($first)"; fi
    if [ "$r" -gt "$newest" ]; then newest=$r; newestName=$first; fi
  done < <(LC_ALL=C join <(awk '{ print $1 "!" $2 }' "$work/imported") \
             <(awk '{ print $1 "!" $2, $3 }' "$work/listed") | tr '!' ' ')
  if [ -n "$too_new" ]; then
    echo "$name runs on Windows $floor, but imports what came later:$too_new"
    fail=1
  fi

  # Windows 8's wake flags, QS_TOUCH (0x800) and QS_POINTER (0x1000): in
  # Windows 8's QS_ALLINPUT, QS_ALLEVENTS, QS_INPUT or both flags anywhere,
  # or beside older flags in the fifth argument of a call (where
  # MsgWaitForMultipleObjects takes its mask: 0x10(%esp) on i686,
  # 0x20(%rsp) on x86-64).  Either flag alone is also a page size and the
  # like, which no wake mask is.
  "$objdump" -d --no-show-raw-insn "$program" >"$work/code"
  wake8=$(grep -oE '\$0x(1cff|1cbf|1c07|1800),' "$work/code" | tr -d '$,' || true)
  for imm in $(grep -oE '\$0x[0-9a-f]{3,4},0x(10\(%esp\)|20\(%rsp\))' "$work/code" |
               cut -d, -f1 | tr -d '$' | sort -u); do
    v=$((imm))
    if (( (v & 0x1800) && !(v & ~0x1cff) && (v & 0x4ff) )); then wake8+=" $imm"; fi
  done
  if [ -n "$wake8" ]; then
    echo "$name passes a wake mask with Windows 8's flags, which older Windows refuse:" $wake8
    fail=1
  fi
  [ -n "$wake8" ] || echo "$name: $(wc -l <"$work/imported") imports, the newest from" \
    "Windows $newestName, no Windows 8 wake mask; runs on Windows $floor"
done
exit $fail
