#!/usr/bin/env bash
# Runs the whole test suite under a foreign R (armhf: 32-bit ARM, started through
# qemu-arm; arm64, through qemu-aarch64; s390x, big-endian, through qemu-s390x):
# prepares the sysroot (sysroot.sh), cross-builds and installs the package with the
# emulated R's own R CMD INSTALL and the host's strict warnings (with gcc, or with clang
# and libc++ when CLIENT_CROSS_COMPILER=clang), checks the exported symbols of both
# libraries, then runs
# tools/run_tests.R under the emulated R. Ends with "N passed, N failed".
# Usage: check.sh armhf|arm64|s390x CACHE (run from the package's root folder, as root
# on Debian 12)
set -euo pipefail
# shellcheck source=SCRIPTDIR/arch.sh
source "$(dirname "$0")/arch.sh"
# shellcheck source=SCRIPTDIR/../../lib.sh
source "$(dirname "$0")/../../lib.sh"
root=$(pwd)
cache=$(realpath -m "$2")
sysroot=$cache/sysroot
r_home=$sysroot/usr/lib/R
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The cross build and the test helper that the tests build with R CMD SHLIB both read
# these.
export R_MAKEVARS_USER=$root/tools/platforms/cross/Makevars
export CLIENT_STRICT_MAKEVARS=$root/tools/Makevars.strict
export CLIENT_CROSS_TRIPLET=$triplet
export CLIENT_CROSS_SYSROOT=$sysroot
export CLIENT_CROSS_COMPILER=$compiler
# Tests whose measure is the emulator's rather than the program's (the resident size)
# read this.
export CLIENT_EMULATOR=$qemu

# Builds and installs the package into $work/lib; prints the build log on failure.
install_package() {
  mkdir -p "$work/lib"
  r_cmd_install "$r_home/bin/R" "$work/install.log" "$work/lib" "$work/client"
  grep -m 1 -E "^($triplet-g|clang)\\+\\+ " "$work/install.log"
}

# Fails unless each shared object exports exactly its entry and its routines.
check_exports() {
  bash "$root/tools/robustness/check_exports.sh" "$work/lib/client/libs" "$triplet-nm"
  local so=$work/lib/client/libs/client_package.so
  echo "$("$triplet-readelf" -h "$so" |
    awk '/Class:|Machine:/ { $1 = ""; printf "%s", $0 }');" \
    "$("$triplet-readelf" -d "$so" | grep -o 'lib[a-z+]*c++[^]]*' | tr '\n' ' ')"
}

# tinytest is plain R: the emulated R loads the host's copy through a link.
link_tinytest() {
  local tinytest
  tinytest=$(Rscript --vanilla -e 'cat(system.file(package = "tinytest"))')
  [ -n "$tinytest" ] || { echo "tinytest is not installed on the host"; return 1; }
  ln -sfn "$tinytest" "$work/lib/tinytest"
}

bash "$root/tools/platforms/cross/sysroot.sh" "$arch" "$cache"
copy_sources "$work/client"
install_package
check_exports
link_tinytest
# shellcheck disable=SC2016 # R code, not shell
R_LIBS=$work/lib "$r_home/bin/Rscript" --vanilla -e \
  'cat(sprintf("emulated R %s, %s, pointers of %d bytes\n", getRversion(),
   R.version$platform, .Machine$sizeof.pointer))'
start=$(date +%s)
status=0
R_LIBS=$work/lib "$r_home/bin/Rscript" --vanilla tools/run_tests.R || status=$?
echo "emulated test run: $(($(date +%s) - start)) s"
exit "$status"
