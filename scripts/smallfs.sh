#!/usr/bin/env bash
# A 2 MB file system for the tests of a full disk: mount <dir> | umount <dir>.
# Without the right to mount (not root), the folder stays an ordinary one and
# the test that needs it skips itself.
set -u
case "${1:-}" in
  mount)
    mkdir -p "$2"
    mountpoint -q "$2" || mount -t tmpfs -o size=2m tmpfs "$2" 2>/dev/null ||
      echo "smallfs: could not mount a small file system at $2" >&2
    ;;
  umount)
    mountpoint -q "$2" && umount "$2"
    ;;
  *) echo "usage: $0 mount|umount <dir>" >&2; exit 2 ;;
esac
exit 0
