as_root() {  # mounting takes root; a user with sudo gets it without a password prompt or not at all
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi
}

# Unmounts every file system below the folder given.
unmount_below() {
    local target
    while read -r target; do
        as_root umount "$target" 2>/dev/null || as_root umount -l "$target"
    done < <(findmnt -rn -o TARGET | while read -r escaped; do printf '%b\n' "$escaped"; done | grep -F -- "$1/" || true)
}

# Starts an X server in FOLDER (pid in xvfb.pid); prints its display once it accepts clients.
start_xvfb() {
    mkfifo "$1/display.fifo"
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -wr -nolisten tcp 3>"$1/display.fifo" </dev/null \
        >"$1/xvfb.log" 2>&1 &
    echo $! >"$1/xvfb.pid"
    head -1 "$1/display.fifo"
}
