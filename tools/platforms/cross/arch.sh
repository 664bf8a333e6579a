# shellcheck shell=bash disable=SC2034 # the variables are for the sourcing script
# Sourced by check.sh and sysroot.sh, whose arguments are the Debian architecture of the
# check (armhf, arm64 or s390x) and the cache folder: sets arch, triplet (the GNU name
# of its cross tools and library folders) and qemu (the user-mode emulator that runs its
# programs on this machine). CLIENT_CROSS_COMPILER=clang builds with clang and libc++
# instead of gcc and libstdc++; the sysroot then holds that architecture's libc++ too.
usage() {
  echo "usage: $(basename "$0") armhf|arm64|s390x CACHE" >&2
  exit 2
}
[ $# -eq 2 ] || usage
case $1 in
  armhf) triplet=arm-linux-gnueabihf qemu=qemu-arm ;;
  arm64) triplet=aarch64-linux-gnu qemu=qemu-aarch64 ;;
  s390x) triplet=s390x-linux-gnu qemu=qemu-s390x ;;
  *) usage ;;
esac
arch=$1
compiler=${CLIENT_CROSS_COMPILER:-gcc}
case $compiler in
  gcc) target_packages=() ;;
  clang) target_packages=(libc++-dev libc++abi-dev) ;;
  *) usage ;;
esac
# qemu falls back to the host's files, but locales are binary files in the machine's
# byte order: a big-endian R needs its own C.UTF-8.
if [ "$arch" = s390x ]; then target_packages+=(libc-bin); fi
