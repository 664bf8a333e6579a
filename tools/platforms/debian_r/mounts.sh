# shellcheck shell=bash
# Sourced by root.sh and check.sh: runs them in a mount namespace of their own, mounts
# what programs inside the Debian root need, and runs commands there with a clean
# environment.

# Runs the sourcing script again, with the same arguments, in a new mount namespace
# whose mounts propagate nowhere: whatever it mounts is gone when its last process
# ends, even if it is killed before its trap runs. Does nothing inside the namespace.
enter_mount_namespace() {
  [ -n "${CLIENT_ROOT_NAMESPACE:-}" ] && return 0
  CLIENT_ROOT_NAMESPACE=1 exec unshare --mount --propagation private -- \
    bash "$0" "$@"
}

# Prints the mount points below the folder $1, deepest first.
mounts_below() {
  local target
  findmnt -rn -o TARGET | while read -r target; do
    target=$(printf '%b' "$target")  # findmnt -r writes a blank as \x20
    case $target in "$1"/*) echo "$target" ;; esac
  done | LC_ALL=C sort -r  # a folder sorts before what lies below it
}

# Unmounts everything below the folder $1. A mount still in use (a program the tests
# started and left running) is detached lazily: it leaves the tree at once and is freed
# when that program ends. Fails if anything below $1 is still mounted afterwards.
unmount_below() {
  local target left
  while read -r target; do
    umount "$target" 2>/dev/null || umount --lazy "$target"
  done < <(mounts_below "$1")
  left=$(mounts_below "$1")
  [ -z "$left" ] && return 0
  echo "still mounted:"
  echo "$left"
  return 1
}

# Mounts what programs in the root $1 need: /proc, the host's /dev and /dev/pts, an
# empty /dev/shm and an empty /tmp. Everything is unmounted again when the script
# exits, however it exits. /sys is left out: nothing run there reads it.
mount_root() {
  local root=$1
  # shellcheck disable=SC2064 # the root is fixed now
  trap "unmount_below '$root' || exit 1" EXIT
  mount -t proc proc "$root/proc"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
}

# Runs a command in the root $1 with only the environment it needs: none of the host's
# variables (R_LIBS, R_MAKEVARS_USER, a locale the root lacks) reaches it.
in_root() {
  local root=$1
  shift
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TZ=UTC \
    DEBIAN_FRONTEND=noninteractive chroot "$root" "$@"
}
