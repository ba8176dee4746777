# Unmounts every file system mounted below the folder given, such as the small drive of a
# scenario that was killed before its own cleanup ran. Sourced by the scenarios and the prefix.
unmount_below() {
    local target
    while read -r target; do
        umount "$target" 2>/dev/null || umount -l "$target"
    done < <(findmnt -rn -o TARGET | while read -r escaped; do printf '%b\n' "$escaped"; done |
        grep -F -- "$1/" || true)
}
