#!/usr/bin/env bash
# tools/setup.sh against a fake apt and dpkg, and a faked answer of the
# kernel (tools/wine-prefix kernel): what it installs, adds and says when the
# kernel refuses 32-bit code, when a package list fails, when an install
# fails, when the release does not offer a package, which clang runtime it
# asks for, when sudo wants a password, when nothing is missing, and what
# --help and an unknown argument do.  It runs as
# a user (a fake id) through a fake sudo, without a terminal.  No network, no
# root, nothing installed.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
failures=0
fail() { echo "FAIL ($scenario): $*" >&2; failures=$((failures + 1)); }

# The tree: the real set-up, and a wine-prefix that answers "kernel" as told.
mkdir -p "$t/tree/tools" "$t/bin"
cp "$repo/tools/setup.sh" "$t/tree/tools/"
cat >"$t/tree/tools/wine-prefix" <<'EOF'
#!/bin/bash
[ "$1" = kernel ] || exit 2
[ "$FAKE_KERNEL" = refuses ] || exit 0
echo "the kernel refuses 32-bit x86 code"; exit 1
EOF
chmod +x "$t/tree/tools/wine-prefix"

# The machine's commands, but apt-get, dpkg, dpkg-query, id, sudo and sleep
# are fakes that log their calls, and zip and unzip are missing.
ln -s /usr/bin/* "$t/bin/" 2>/dev/null || true
ln -sf /usr/sbin/* "$t/bin/" 2>/dev/null || true
rm -f "$t/bin/"{apt-get,apt-cache,dpkg,dpkg-query,id,sudo,sleep,zip,unzip}
fake() { printf '#!/bin/bash\necho "%s $*" >>"$FAKE_LOG"\n%s\n' "$1" "$2" >"$t/bin/$1"; chmod +x "$t/bin/$1"; }
fake sleep ':'
fake id '[ "$1" = -u ] && echo 1000 || exec /usr/bin/id "$@"'
# -n and -v ask whether the user may: refused where a password is wanted.
fake sudo '
case $1 in
  -n | -v) [ -z "$FAKE_SUDO_WANTS_PASSWORD" ] || exit 1; [ "$1" = -v ] && exit 0; shift ;;
esac
exec "$@"'
fake dpkg '
case $1 in
  --print-foreign-architectures) cat "$FAKE_ARCHS" ;;
  --add-architecture) echo "$2" >>"$FAKE_ARCHS" ;;
  --remove-architecture) sed -i "/^$2\$/d" "$FAKE_ARCHS" ;;
esac'
fake dpkg-query 'exit 1'
# The release offers every package but those in $FAKE_NOT_OFFERED.
fake apt-cache '
[ "$1" = policy ] || exit 100
echo "$2:"; echo "  Installed: (none)"
[[ " $FAKE_NOT_OFFERED " == *" $2 "* ]] && echo "  Candidate: (none)" || echo "  Candidate: 1.0-1"'
fake apt-get '
[[ " $* " == *" update "* ]] && [ -n "$FAKE_LIST_FAILS" ] && {
  echo "E: Failed to fetch file:/srv/empty/./Packages  File not found - /srv/empty/./Packages (2: No such file or directory)"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
}
for p in $FAKE_UNINSTALLABLE; do
  [[ " $* " == *" install "*" $p "* ]] || continue
  echo "The following packages have unmet dependencies:"
  echo " $p : Depends: libfake1 (= 2) but 1 is to be installed"
  echo "E: Unable to correct problems, you have held broken packages."
  exit 100
done
exit 0'

run_setup() { # SCENARIO [ARGUMENT...]: runs the set-up with the FAKE_* settings given
  scenario=$1
  shift
  : >"$t/log"
  # setsid: no controlling terminal, as under CI, so sudo cannot ask.
  out=$(cd "$t/tree" && env PATH="$t/bin" FAKE_LOG="$t/log" FAKE_ARCHS="$t/archs" \
    "${settings[@]}" setsid -w tools/setup.sh "$@" 2>&1 </dev/null) && status=0 || status=$?
}
calls() { grep -c "$1" "$t/log" || true; }
apt_ran() { grep -qE '^(apt-get|dpkg|sudo) ' "$t/log"; }

# Nothing missing (zip and unzip back), the kernel refuses 32-bit code:
# quiet, and no apt at all.
ln -s /usr/bin/zip /usr/bin/unzip "$t/bin/"
: >"$t/archs"
settings=(FAKE_KERNEL=refuses)
run_setup "nothing missing"
[ "$status" -eq 0 ] || fail "exit $status"
[ -z "$out" ] || fail "said: $out"
! apt_ran || fail "ran: $(cat "$t/log")"
rm "$t/bin/zip" "$t/bin/unzip"

# The kernel refuses 32-bit code, a list fails: no i386, no wine32; the list
# is named once, after three tries, and the rest is installed.
settings=(FAKE_KERNEL=refuses FAKE_LIST_FAILS=1)
run_setup "kernel refuses, list fails"
[ "$status" -eq 0 ] || fail "exit $status: $out"
[ "$(calls '^apt-get.* update')" -eq 3 ] || fail "apt-get update ran $(calls '^apt-get.* update') times"
[ "$(grep -c 'file:/srv/empty' <<<"$out")" -eq 1 ] || fail "the failed list not named once: $out"
grep -q 'apt-get.* install .*zip unzip$' "$t/log" || fail "zip and unzip not installed: $(cat "$t/log")"
! grep -qE 'add-architecture|apt-get.*wine32' "$t/log" || fail "i386 or wine32 asked for: $(cat "$t/log")"
[ ! -s "$t/archs" ] || fail "foreign architectures: $(cat "$t/archs")"

# A needed package apt cannot install: named (not the one it can), apt's
# reason, what to do next, exit 1.
settings=(FAKE_KERNEL=refuses FAKE_UNINSTALLABLE=zip)
run_setup "zip cannot be installed"
[ "$status" -eq 1 ] || fail "exit $status"
grep -q '^setup: could not install zip; apt said:' <<<"$out" || fail "zip not named alone: $out"
grep -q 'zip : Depends: libfake1' <<<"$out" || fail "apt's unmet dependency not shown: $out"
grep -q 'E: Unable to correct problems' <<<"$out" || fail "apt's error not shown: $out"
grep -q 'setup: run tools/setup.sh again later, or see what apt needs: apt-get install --no-install-recommends zip' \
  <<<"$out" || fail "no next step: $out"

# The release does not offer zip: named in one line with what needs it,
# unzip still installed, exit 0.
settings=(FAKE_KERNEL=refuses FAKE_NOT_OFFERED=zip)
run_setup "the release lacks zip"
[ "$status" -eq 0 ] || fail "exit $status: $out"
[ "$(grep -c 'does not offer, so going on without it: zip (for tools/package and its tests)$' <<<"$out")" -eq 1 ] ||
  fail "zip not named once with what needs it: $out"
grep -q 'apt-get.* install .* unzip$' "$t/log" && ! grep -q 'apt-get.* install .* zip ' "$t/log" ||
  fail "not unzip alone installed: $(cat "$t/log")"

# Lists that offer nothing, not even apt: no release's, so apt is asked
# and its reason given, exit 1.
settings=(FAKE_KERNEL=refuses FAKE_NOT_OFFERED="apt zip unzip" FAKE_UNINSTALLABLE=zip)
run_setup "lists offer nothing"
[ "$status" -eq 1 ] && grep -q '^setup: could not install zip; apt said:' <<<"$out" &&
  ! grep -q 'does not offer' <<<"$out" || fail "exit $status: $out"

# The fuzzer runtime follows the clang there is: a clang 19 without its
# runtime gets libclang-rt-19-dev; no clang at all gets clang and Debian's
# unversioned runtime, which matches it.  No name pinned to a release.
printf '#!/bin/sh\ncase $1 in -print-resource-dir) echo %s ;; -dumpversion) echo 19.1.7 ;; esac\n' \
  "$t/no-runtime" >"$t/clang19"
chmod +x "$t/clang19"
ln -sf "$t/clang19" "$t/bin/clang++"
settings=(FAKE_KERNEL=refuses)
run_setup "clang 19 without its runtime"
grep -q 'apt-get.* install .* libclang-rt-19-dev ' "$t/log" || fail "no libclang-rt-19-dev: $(cat "$t/log")"
rm "$t/bin/clang++"
run_setup "no clang"
grep -q 'apt-get.* install .* clang .*libclang-rt-dev ' "$t/log" || fail "no clang and libclang-rt-dev: $(cat "$t/log")"
! grep -qE 'libclang-rt-[0-9]' "$t/log" || fail "a versioned runtime asked for: $(cat "$t/log")"
ln -s /usr/bin/clang++ "$t/bin/clang++"

# --help says how to use it; an unknown argument exits 2: neither asks apt.
settings=(FAKE_KERNEL=refuses)
run_setup "--help" --help
[ "$status" -eq 0 ] && grep -q '^tools/setup.sh \[--fresh-machine\]' <<<"$out" && ! apt_ran ||
  fail "exit $status, said '$out', ran: $(cat "$t/log")"
run_setup "unknown argument" --frsh-machine
[ "$status" -eq 2 ] && grep -q "unknown argument '--frsh-machine'" <<<"$out" && ! apt_ran ||
  fail "exit $status, said '$out', ran: $(cat "$t/log")"

# sudo wants a password and there is no terminal: one line saying what to
# do, exit 1, and nothing asked of apt or dpkg.
settings=(FAKE_KERNEL=refuses FAKE_SUDO_WANTS_PASSWORD=1)
run_setup "sudo wants a password"
[ "$status" -eq 1 ] || fail "exit $status"
[ "$out" = "setup: installing zip unzip needs root, and sudo did not allow it without a password: run tools/setup.sh once in a terminal (sudo asks there), or as root" ] ||
  fail "said: $out"
! grep -qE '^(apt-get|dpkg) ' "$t/log" || fail "ran: $(cat "$t/log")"

# The kernel runs 32-bit code, so i386 is added for wine32, but a needed
# package cannot be installed: exit 1, and i386 is gone again.
settings=(FAKE_KERNEL=runs FAKE_UNINSTALLABLE=zip)
run_setup "i386 added, then an install fails"
[ "$status" -eq 1 ] || fail "exit $status: $out"
grep -q 'dpkg --add-architecture i386' "$t/log" || fail "i386 not added: $(cat "$t/log")"
[ ! -s "$t/archs" ] || fail "i386 left behind: $(cat "$t/archs")"

# The kernel runs 32-bit code but wine32 cannot be installed while a list
# fails: i386 added and removed again, the reason kept, exit 0; the next run
# within the hour is quiet and leaves apt alone.
ln -s /usr/bin/zip /usr/bin/unzip "$t/bin/"
settings=(FAKE_KERNEL=runs FAKE_LIST_FAILS=1 FAKE_UNINSTALLABLE=wine32:i386)
run_setup "wine32 cannot be installed"
[ "$status" -eq 0 ] || fail "exit $status: $out"
grep -q '^setup: installing wine32:i386$' <<<"$out" || fail "wine32 not tried: $out"
grep -q 'dpkg --add-architecture i386' "$t/log" || fail "i386 not added: $(cat "$t/log")"
[ ! -s "$t/archs" ] || fail "i386 left behind: $(cat "$t/archs")"
grep -q '^setup: could not install wine32:i386' <<<"$out" || fail "wine32 not named: $out"
grep -q '^setup: going on without 32-bit Wine' <<<"$out" || fail "does not say it goes on: $out"
record=$(cat "$t/tree/build/wine32-not-installed" 2>/dev/null || true)
[[ $record == "apt could not install wine32:i386 (Unable to correct problems, you have held broken packages.); package lists not downloaded: file:/srv/empty/./Packages (File not found"* ]] ||
  fail "reason kept: '$record'"
run_setup "wine32 tried within the hour"
[ "$status" -eq 0 ] && [ -z "$out" ] && ! apt_ran || fail "exit $status, said '$out', ran: $(cat "$t/log")"

[ $failures -eq 0 ] && echo "setup: all scenarios hold"
exit $((failures > 0))
