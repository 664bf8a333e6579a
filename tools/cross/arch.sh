# shellcheck shell=bash disable=SC2034 # the variables are for the sourcing script
# Sourced by check.sh and sysroot.sh, whose arguments are the Debian architecture of the
# check (armhf or arm64) and the cache folder: sets arch, triplet (the GNU name of its
# cross tools and library folders) and qemu (the user-mode emulator that runs its
# programs on this machine).
usage() {
  echo "usage: $(basename "$0") armhf|arm64 CACHE" >&2
  exit 2
}
[ $# -eq 2 ] || usage
case $1 in
  armhf) triplet=arm-linux-gnueabihf qemu=qemu-arm ;;
  arm64) triplet=aarch64-linux-gnu qemu=qemu-aarch64 ;;
  *) usage ;;
esac
arch=$1
