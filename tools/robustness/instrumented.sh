# shellcheck shell=bash
# Sourced by sanitize.sh and valgrind.sh: builds the package and the test helper into a
# folder of their own, so that reinstalling .lib meanwhile cannot disturb a run.
# shellcheck source=SCRIPTDIR/../lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

# Installs the package into $1/lib and builds the test helper into $1/helper, both
# with the make variables of the file $2; any further arguments go to R CMD INSTALL.
# Prints a build log that fails.
build_instrumented() {
  local build=$1 makevars=$2
  shift 2
  rm -rf "$build"
  mkdir -p "$build/lib" "$build/helper"
  R_MAKEVARS_USER=$makevars r_cmd_install R "$build/install.log" "$build/lib" . "$@" ||
    return 1
  rm -f src/*.o src/*.so
  cp inst/tinytest/native/testhelper.c "$build/helper/"
  R_MAKEVARS_USER=$makevars logged "$build/helper/build.log" \
    R CMD SHLIB -o "$build/helper/testhelper.so" "$build/helper/testhelper.c"
}
