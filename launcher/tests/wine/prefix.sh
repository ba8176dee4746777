#!/usr/bin/env bash
# Makes (setup) or removes (cleanup) the throw-away Wine prefix and X display that the Wine
# tests of one ctest run share, and unmounts what the scenarios left mounted in their folder.
# Usage: prefix.sh setup|cleanup STATE_DIR SCENARIOS_DIR
set -euo pipefail
source "$(dirname "$0")/mounts.sh"
source "$(dirname "$0")/loader.sh"
action=$1 state=$2
# An interrupted run may have left its server and display behind.
[ ! -d "$state/prefix" ] || WINEPREFIX="$state/prefix" wineserver -k 2>/dev/null || true
[ ! -f "$state/xvfb.pid" ] || kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
unmount_below "$3"
[ "$action" = setup ] || exit 0

rm -rf "$state"
mkdir -p "$state/prefix"
use_wine_loader "$state/bin"
start_xvfb "$state" >"$state/display"
export WINEPREFIX="$state/prefix" WINEDEBUG=-all DISPLAY=":$(cat "$state/display")"
# The wine server and the services that wineboot starts outlive this script: their output goes
# to a file, or ctest would wait for them to close its pipe.
setsid wineserver -p </dev/null >>"$state/wine.log" 2>&1
wineboot -i </dev/null >>"$state/wine.log" 2>&1
# There is no window manager on the display. Wine waits up to 2 s for one whenever it hides a
# window it thinks is managed, which would skew every timing the tests measure.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >>"$state/wine.log" 2>&1
echo "Wine prefix ($WINEARCH) ready in $WINEPREFIX on display $DISPLAY"
