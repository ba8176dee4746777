# Mounting takes root; a user with sudo gets it without a password prompt or not at all.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi
}

# Unmounts every file system mounted below the folder given, such as the small drive of a
# scenario that was killed before its own cleanup ran. Sourced by the scenarios and the prefix.
unmount_below() {
    local target
    while read -r target; do
        as_root umount "$target" 2>/dev/null || as_root umount -l "$target"
    done < <(findmnt -rn -o TARGET | while read -r escaped; do printf '%b\n' "$escaped"; done |
        grep -F -- "$1/" || true)
}
