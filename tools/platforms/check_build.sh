#!/usr/bin/env bash
# Builds the package the way another toolchain does and runs the whole test suite
# against that build: `clang`, clang with libc++ as on macOS and CRAN's clang flavours;
# `lto`, gcc with link-time optimisation, which finds ODR violations and type mismatches
# across files. Any compiler or linker warning fails it (tools/Makevars.strict).
# Ends with "N passed, N failed" from the test runner.
# Usage: check_build.sh clang|lto (run from the package's root folder)
set -euo pipefail
# shellcheck source=SCRIPTDIR/../robustness/instrumented.sh
source "$(dirname "$0")/../robustness/instrumented.sh"
kind=${1:-}
build=$PWD/tools/build/$kind
makevars=$PWD/tools/build/$kind.Makevars
mkdir -p tools/build
strict=$(cat tools/Makevars.strict)
case $kind in
  clang)
    cat >"$makevars" <<MAKEVARS
$strict
CFLAGS += -Wall -Wextra -pedantic -Werror
CC = clang
CXX17 = clang++ -stdlib=libc++
SHLIB_CXX17LD = clang++ -stdlib=libc++ \$(CXX17STD)
MAKEVARS
    install_flags=()
    ;;
  lto)
    # Debian's R leaves LTO_OPT empty, so --use-LTO alone would change nothing.
    cat >"$makevars" <<MAKEVARS
$strict
LTO_OPT = -flto=auto
LDFLAGS += -flto=auto -Wall -Werror -Werror=odr -Werror=lto-type-mismatch
MAKEVARS
    install_flags=(--use-LTO)
    ;;
  *)
    echo "usage: $(basename "$0") clang|lto" >&2
    exit 2
    ;;
esac

build_instrumented "$build" "$makevars" "${install_flags[@]}"
if grep -qi 'warning' "$build/install.log" "$build/helper/build.log"; then
  grep -i -B2 -A2 'warning' "$build/install.log" "$build/helper/build.log"
  echo "$kind: the build warns"
  exit 1
fi
compile=$(grep -m 1 -E '^(clang\+\+|g\+\+) ' "$build/install.log")
echo "$kind: built without warnings: ${compile%% -o *}"
if [ "$kind" = lto ] && ! grep -q -- '-flto=auto' "$build/install.log"; then
  echo "lto: the build did not use -flto"
  exit 1
fi
CLIENT_TEST_HELPER="$build/helper/testhelper.so" R_LIBS="$build/lib" \
  Rscript --vanilla tools/run_tests.R
