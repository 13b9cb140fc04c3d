#!/usr/bin/env bash
# real_road_devices.sh WINE-RUN PREFIX KVO-REMOTE NAME...
# Plugs the virtual devices into the prefix for the real-road tests.
# Installing a driver starts the prefix's services (services.exe, plugplay,
# winedevice), which keep the first program's standard output for as long as
# the prefix's server runs: handed CTest's pipe, they would hold it open and
# the step would never end.  So kvo-remote writes to a file, shown after.
set -uo pipefail
wine_run=$1 prefix=$2 remote=$3
shift 3
# Devices stay installed in the prefix from run to run, with the driver as
# it was built then; a rebuilt driver replaces it while no Wine program of
# the prefix runs (Wine maps a loaded driver), so the tests see the driver
# of this build.
installed=$prefix/drive_c/windows/system32/drivers/kvo_virtual_receiver.sys
built=$(dirname "$remote")/kvo_virtual_receiver.sys
if [ -f "$installed" ] && ! cmp -s "$installed" "$built"; then
  "$(dirname "$wine_run")/wine-prefix" stop "$prefix"
  cp "$built" "$installed.new" && mv "$installed.new" "$installed"
  echo "replaced the prefix's driver with this build's"
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$wine_run" "$prefix" "$remote" add "$@" </dev/null >"$log" 2>&1
status=$?
tr -d '\r' <"$log"
exit $status
