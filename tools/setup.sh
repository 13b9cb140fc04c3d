#!/usr/bin/env bash
# tools/setup.sh [--fresh-machine]
# Installs what the builds and tests need on a fresh Debian 12 or 13 machine.
# Safe to run again: it installs only what is missing, and where nothing is
# missing it says nothing.  A user who is not root gets the packages through
# sudo, asked first: where it wants a password and there is no terminal to
# ask it on, setup says what to do in one line and exits 1.  Everything
# else stays theirs.
# --fresh-machine: also what tools/fresh-machine needs (debootstrap).
# -h, --help: this text.
#
# Packages are chosen by what the running release offers, never by one
# release's version: the fuzzer runtime is the one of the installed clang, or
# Debian's unversioned one, which follows the release's own clang.  A package
# the release does not offer is named in one line with what cannot be built
# or run without it, and the rest is installed.
#
# 32-bit Wine (wine32, and with it dpkg's i386 architecture) is installed only
# where the kernel runs 32-bit x86 code.  Where apt cannot install it right
# now, setup says why and goes on without it: the win32 preset's Wine tests
# are skipped with that reason and the win64 preset runs them under 64-bit
# Wine.  The reason is kept in build/wine32-not-installed; setup tries again
# once that is an hour old, or at once when it is removed.
#
# A package list that cannot be downloaded (a mirror in mid-sync, a source
# that is gone) is retried, then named in one line, and setup goes on with
# the lists there are.  Exits 1 when something needed could not be installed,
# naming it, with apt's reason and what to do next; 2 on an unknown argument.
set -euo pipefail
cd "$(dirname "$0")/.."
fresh_machine=0
case $# in
  0) ;;
  1) case $1 in
       --fresh-machine) fresh_machine=1 ;;
       -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' tools/setup.sh; exit 0 ;;
       *) echo "setup: unknown argument '$1' (tools/setup.sh [--fresh-machine], or --help)" >&2; exit 2 ;;
     esac ;;
  *) echo "setup: too many arguments: $* (tools/setup.sh [--fresh-machine], or --help)" >&2; exit 2 ;;
esac

# A build tree left by an earlier run as root cannot be written, and Wine
# refuses a prefix its user does not own: say so now rather than midway.
if [ $fresh_machine -eq 0 ] && [ -e build ] && [ ! -O build ]; then
  echo "setup: build/ belongs to $(stat -c %U build), not to you; remove it first (sudo rm -rf build)" >&2
  exit 1
fi

# Each missing package, with what cannot be built or run without it: said
# where the release does not offer the package.
need=()
declare -A needed_for=()
want() { # PACKAGE WHAT-NEEDS-IT
  need+=("$1")
  needed_for[$1]=$2
}
command -v cmake >/dev/null || want cmake "every build"
# CMake only recommends make, and recommends are not installed here.
command -v make >/dev/null || want make "every build"
command -v g++ >/dev/null || want g++ "the native presets"
command -v i686-w64-mingw32-g++-posix >/dev/null || want g++-mingw-w64-i686 "the win32 preset, the product's own build"
# Some kernels refuse 32-bit x86 code, or 32-bit Wine cannot be installed:
# there the Windows tests run as a 64-bit build under 64-bit Wine.
command -v x86_64-w64-mingw32-g++-posix >/dev/null || want g++-mingw-w64-x86-64-posix "the win64 preset"
command -v wine >/dev/null || want wine "the Windows tests and tools/demo"
[ -x /usr/lib/wine/wine64 ] || want wine64 "the Windows tests under 64-bit Wine and tools/demo"
command -v clang++ >/dev/null || want clang "the native-asan preset"
[ -d /usr/src/googletest ] || want googletest "the tests of every preset"
[ -e /usr/include/benchmark/benchmark.h ] || want libbenchmark-dev "the native preset's benchmarks"
# Property and stateful tests: random host schedules, shrunk when one fails.
[ -e /usr/include/rapidcheck.h ] || want librapidcheck-dev "the native presets' property tests"
# libFuzzer and the sanitizer runtimes, for the clang that builds
# native-asan: the runtime of the installed clang's own version (Debian 12's
# clang is 14, Debian 13's 19), or where clang comes now, Debian's
# unversioned package, which follows the release's clang.
if ! command -v clang++ >/dev/null; then
  want libclang-rt-dev "the native-asan preset's sanitizers and fuzz target"
elif ! compgen -G "$(clang++ -print-resource-dir 2>/dev/null)/lib/*/libclang_rt.fuzzer*.a" >/dev/null; then
  want "libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev" "the native-asan preset's sanitizers and fuzz target"
fi
# A sanitizer's report names functions and lines only through llvm-symbolizer.
command -v llvm-symbolizer >/dev/null || want llvm "the sanitizers' function names and lines"
command -v objdump >/dev/null || want binutils "the win32 preset's table checks"
command -v valgrind >/dev/null || want valgrind "bench/run's instruction counts"
# The kvo-monitor test stops live mode with pkill.
command -v pkill >/dev/null || want procps "the kvo-monitor tests"
# kvo-monitor's build names USB vendors and products from the USB ID list.
[ -e /usr/share/misc/usb.ids ] || want usb.ids "kvo-monitor's build"
# tools/package writes the release zip, and its tests read it back.
command -v zip >/dev/null || want zip "tools/package and its tests"
command -v unzip >/dev/null || want unzip "tools/package's tests"
[ $fresh_machine -eq 0 ] || command -v debootstrap >/dev/null || [ -x /usr/sbin/debootstrap ] ||
  want debootstrap "tools/fresh-machine"

# 32-bit Wine: installed, or not wanted (the kernel refuses 32-bit code), or
# refused by apt less than an hour ago.
record=build/wine32-not-installed
wine32=0
if [ "$(dpkg-query -W -f '${Status}' wine32:i386 2>/dev/null)" = "install ok installed" ]; then
  [ ! -e $record ] || rm -f $record 2>/dev/null || true
elif tools/wine-prefix kernel >/dev/null && [ -z "$(find $record -mmin -60 2>/dev/null)" ]; then
  wine32=1
fi

if [ ${#need[@]} -eq 0 ] && [ $wine32 -eq 0 ]; then
  exit 0
fi

all=("${need[@]}")
[ $wine32 -eq 0 ] || all+=(wine32:i386)
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
  # Asked now rather than at the first apt call: a sudo that wants a
  # password and has no terminal to ask it on fails midway, in its own or
  # apt's words.  Where there is a terminal, sudo asks there once.
  if ! sudo -n true 2>/dev/null && ! { { : </dev/tty; } 2>/dev/null && sudo -v; }; then
    echo "setup: installing ${all[*]} needs root, and sudo did not allow it without a password: run tools/setup.sh once in a terminal (sudo asks there), or as root" >&2
    exit 1
  fi
else
  echo "setup: installing ${all[*]} needs root: run tools/setup.sh as root once, or install sudo" >&2
  exit 1
fi
# Another apt (a second setup, unattended upgrades) may hold the locks.
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300)
said=$(mktemp -d)
# An i386 architecture added for wine32 goes again on every way out but
# wine32 installed: nothing would be installed for it, every later apt-get
# update would fetch its lists, and the next run would no longer know it
# had added it.
added_i386=0
remove_added_i386() {
  [ $added_i386 -eq 1 ] || return 0
  "${as_root[@]}" dpkg --remove-architecture i386 2>/dev/null || true
}
trap 'remove_added_i386; rm -rf "$said"' EXIT

# apt-get update, a few times while some list fails: a mirror in mid-sync
# usually is whole again within minutes.  Lists still failing are named once,
# with apt's reason, and the others are used ($lists_failed keeps the line).
lists_failed=
update_lists() {
  local try
  for try in 1 2 3; do
    "${apt[@]}" update -qq >"$said/update" 2>&1 && { lists_failed=; return 0; }
    # "E: Failed to fetch URL  REASON [IP: ...]", one line per list.
    lists_failed=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\)  \(.*\)$/\1 (\2)/p' "$said/update" |
      sed 's/ *\[IP: [^]]*\]//' | sort -u | awk 'NR > 1 { printf "; " } { printf "%s", $0 }')
    [ $try -eq 3 ] || sleep 5
  done
  if [ -n "$lists_failed" ]; then
    echo "setup: package lists not downloaded, going on with the others: $lists_failed" >&2
  else
    lists_failed=$({ grep -E '^[EW]: ' "$said/update" || tail -1 "$said/update"; } | head -3 | tr '\n' ' ')
    echo "setup: apt-get update failed, going on with the package lists there are: $lists_failed" >&2
  fi
}

# apt-get install; when it fails, $not_installed names the packages apt
# cannot install (each tried alone, without installing; all of them when
# each alone would do) and $apt_reason gives apt's reason in a few lines.
not_installed=() apt_reason=
install_packages() {
  local p
  "${apt[@]}" install -y -q --no-install-recommends "$@" >"$said/install" 2>&1 && return 0
  not_installed=()
  if [ $# -gt 1 ]; then
    for p; do
      apt-get install -s -qq --no-install-recommends "$p" >/dev/null 2>&1 || not_installed+=("$p")
    done
  fi
  [ ${#not_installed[@]} -gt 0 ] || not_installed=("$@")
  # The first unmet dependencies apt lists, and its errors.
  apt_reason=$(awk '
    /unmet dependencies:/ { unmet = 1; next }
    unmet && /^ / { if (++n <= 4) print; next }
    { unmet = 0 }
    /^[EW]: / && !/Some index files failed/ { err[++e] = $0 }
    END {
      if (n > 4) printf "  (%d more lines of unmet dependencies)\n", n - 4
      for (i = 1; i <= e; i++) print err[i]
    }' "$said/install" | sed 's/^/  /')
  [ -n "$apt_reason" ] || apt_reason=$(tail -3 "$said/install" | sed 's/^/  /')
  return 1
}

say_what_failed() {
  echo "setup: could not install ${not_installed[*]}; apt said:" >&2
  echo "$apt_reason" >&2
  if [ -n "$lists_failed" ]; then
    echo "setup: a package list failed to download (above), which may be why: run tools/setup.sh again later" >&2
  else
    echo "setup: run tools/setup.sh again later, or see what apt needs: apt-get install --no-install-recommends ${not_installed[0]}" >&2
  fi
}

echo "setup: installing ${all[*]}"
if [ $wine32 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  added_i386=1
  "${as_root[@]}" dpkg --add-architecture i386
fi
update_lists

# A package the release does not offer (no version of it in the lists) is
# named, with what it is needed for, in one line, and the others are still
# installed: only what needs it cannot be built or run, and CMake, when it
# configures that preset, names what it did not find.
offered() { # PACKAGE
  local candidate
  candidate=$(apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p')
  [ -n "$candidate" ] && [ "$candidate" != "(none)" ]
}
# Lists that offer not even apt itself are no release's: there apt's own
# reason, below, says more.
release=$(. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-}")
offers=() lacking=
for p in "${need[@]}"; do
  if offered "$p" || ! offered apt; then
    offers+=("$p")
  else
    lacking+="${lacking:+; }$p (for ${needed_for[$p]})"
  fi
done
if [ -n "$lacking" ]; then
  echo "setup: ${release:-this release} does not offer, so going on without it: $lacking$([ -z "$lists_failed" ] || echo "; a package list failed to download (above), which may be why")" >&2
fi
need=(${offers[@]+"${offers[@]}"})

if [ ${#need[@]} -gt 0 ] && ! install_packages "${need[@]}"; then
  say_what_failed
  exit 1
fi

if [ $wine32 -eq 1 ] && ! install_packages wine32:i386; then
  say_what_failed
  why="apt could not install wine32:i386 ($({ grep -E '^ *E: ' <<<"$apt_reason" || true; } | tail -1 | sed 's/^ *E: //'))"
  [ -z "$lists_failed" ] || why+="; package lists not downloaded: $lists_failed"
  { mkdir -p build && echo "$why" >$record; } 2>/dev/null || true
  echo "setup: going on without 32-bit Wine: the win32 preset's Wine tests are skipped, saying why, and tools/demo uses the win64 build; tried again in an hour, or now after rm $record" >&2
elif [ $wine32 -eq 1 ]; then
  added_i386=0  # wine32 is installed for it: it stays
fi
exit 0
