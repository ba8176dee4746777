#!/usr/bin/env bash
# private_mounts.sh <command...>: the command as root with fresh /dev, /run, /tmp and /var/lib, so
# card nodes never reach the host's; /dev keeps a JVM's few nodes and the host's ptys, and the
# checkout stays visible even under a covered folder.
set -euo pipefail
if [ "${1:-}" != "--inside" ]; then
  exec unshare --mount --propagation private "$0" --inside "$@"
fi
shift
checkout=$(cd "$(dirname "$0")/../../.." && pwd)
# The host's tree as it was, to bring the checkout back from once its folder is covered.
mount --rbind / /mnt
for dir in /tmp /run /var/lib; do mount -t tmpfs tmpfs "$dir"; done
mount -t tmpfs -o mode=755 tmpfs /dev
for node in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "ptmx 5 2"; do
  read -r name major minor <<<"$node"
  mknod -m 666 "/dev/$name" c "$major" "$minor"
done
# The host's pseudo-terminals, which /dev/ptmx finds beside it.
mkdir /dev/pts && mount --bind /mnt/dev/pts /dev/pts
for dir in /tmp /run /var/lib /dev; do
  case "$checkout/" in
    "$dir"/*)
      mkdir -p "$checkout"
      mount --rbind "/mnt$checkout" "$checkout"
      ;;
  esac
done
exec "$@"
