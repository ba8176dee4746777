#!/usr/bin/env bash
# private_mounts.sh <command...>: runs the command as root in a mount namespace of its own whose
# /dev, /run (so /var/run), /tmp and /var/lib are fresh tmpfs, so the card nodes a test makes
# never reach the host's directories. /dev keeps the few nodes a JVM needs.
set -euo pipefail
if [ "${1:-}" != "--inside" ]; then
  exec unshare --mount --propagation private "$0" --inside "$@"
fi
shift
for dir in /tmp /run /var/lib; do mount -t tmpfs tmpfs "$dir"; done
mount -t tmpfs -o mode=755 tmpfs /dev
for node in "null 3" "zero 5" "full 7" "random 8" "urandom 9"; do
  read -r name minor <<<"$node"
  mknod -m 666 "/dev/$name" c 1 "$minor"
done
exec "$@"
