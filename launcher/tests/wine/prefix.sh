#!/usr/bin/env bash
# Usage: prefix.sh setup|cleanup STATE_DIR SCENARIOS_DIR: the Wine prefix and X display of one ctest run.
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
# The server and wineboot's services outlive this script: ctest would wait for their pipes.
setsid wineserver -p </dev/null >>"$state/wine.log" 2>&1
wineboot -i </dev/null >>"$state/wine.log" 2>&1
# No window manager: Wine would wait up to 2 s for one on hiding each window it thinks managed.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >>"$state/wine.log" 2>&1
echo "Wine prefix ($WINEARCH) ready in $WINEPREFIX on display $DISPLAY"
