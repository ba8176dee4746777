#!/usr/bin/env bash
# Makes (setup) or removes (cleanup) the throw-away Wine prefix and X display that the Wine
# tests of one ctest run share, and unmounts what the scenarios left mounted in their folder.
# Usage: prefix.sh setup|cleanup STATE_DIR SCENARIOS_DIR
set -euo pipefail
source "$(dirname "$0")/mounts.sh"
source "$(dirname "$0")/loader.sh"
action=$1
state=$2
scenarios=$3

cleanup() {
    if [ -d "$state/prefix" ]; then
        WINEPREFIX="$state/prefix" wineserver -k 2>/dev/null || true
    fi
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    fi
    unmount_below "$scenarios"
}

if [ "$action" = cleanup ]; then
    cleanup
    exit 0
fi

# An interrupted run may have left its server and display behind.
cleanup
rm -rf "$state"
mkdir -p "$state"
use_wine_loader "$state/bin"
# Xvfb picks a free display number itself and writes it once it accepts clients.
mkfifo "$state/display.fifo"
setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -wr -nolisten tcp \
    3>"$state/display.fifo" </dev/null >"$state/xvfb.log" 2>&1 &
echo $! >"$state/xvfb.pid"
read -r display <"$state/display.fifo"
echo "$display" >"$state/display"

export WINEPREFIX="$state/prefix" WINEDEBUG=-all DISPLAY=":$display"
# The wine server and the services that wineboot starts outlive this script: their output goes
# to a file, or ctest would wait for them to close its pipe.
mkdir -p "$WINEPREFIX"
setsid wineserver -p </dev/null >>"$state/wine.log" 2>&1
wineboot -i </dev/null >>"$state/wine.log" 2>&1
# There is no window manager on the display. Wine waits up to 2 s for one whenever it hides a
# window it thinks is managed, which would skew every timing the tests measure.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >>"$state/wine.log" 2>&1
echo "Wine prefix ($WINEARCH) ready in $WINEPREFIX on display :$display"
