#!/usr/bin/env bash
# tools/setup.sh [--fresh-machine]
# Installs what the builds and tests need on a fresh Debian 12 machine.
# Safe to run again: it installs only what is missing.  A user who is not
# root gets the packages through sudo; everything else stays theirs.
# --fresh-machine: also what tools/fresh-machine needs (debootstrap).
set -euo pipefail
cd "$(dirname "$0")/.."
fresh_machine=0
[ "${1:-}" != --fresh-machine ] || fresh_machine=1

# A build tree left by an earlier run as root cannot be written, and Wine
# refuses a prefix its user does not own: say so now rather than midway.
if [ $fresh_machine -eq 0 ] && [ -e build ] && [ ! -O build ]; then
  echo "setup: build/ belongs to $(stat -c %U build), not to you; remove it first (sudo rm -rf build)" >&2
  exit 1
fi

need=()
command -v cmake >/dev/null || need+=(cmake)
# CMake only recommends make, and recommends are not installed here.
command -v make >/dev/null || need+=(make)
command -v g++ >/dev/null || need+=(g++)
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine wine32:i386)
# Some kernels refuse 32-bit x86 code; there the Windows tests run as a
# 64-bit build under 64-bit Wine.
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v clang++ >/dev/null || need+=(clang)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -e /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
# Property and stateful tests: random host schedules, shrunk when one fails.
[ -e /usr/include/rapidcheck.h ] || need+=(librapidcheck-dev)
# libFuzzer and the sanitizer runtimes for clang.
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
# A sanitizer's report names functions and lines only through llvm-symbolizer.
command -v llvm-symbolizer >/dev/null || need+=(llvm)
command -v objdump >/dev/null || need+=(binutils)
command -v valgrind >/dev/null || need+=(valgrind)
# The kvo-monitor test stops live mode with pkill.
command -v pkill >/dev/null || need+=(procps)
# tools/package writes the release zip, and its tests read it back.
command -v zip >/dev/null || need+=(zip)
command -v unzip >/dev/null || need+=(unzip)
[ $fresh_machine -eq 0 ] || command -v debootstrap >/dev/null || [ -x /usr/sbin/debootstrap ] || need+=(debootstrap)

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "setup: installing ${need[*]} needs root: run tools/setup.sh as root once, or install sudo" >&2
  exit 1
fi

echo "setup: installing ${need[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
