#!/usr/bin/env bash
# Fails unless each of the package's two shared objects exports exactly its entry and
# its routines: client.so the eight routines, R_init_client and the two error raisers;
# client_package.so the same routines, those the package adds and its own entry.
# Usage: check_exports.sh LIBS_FOLDER [NM] (NM: a cross toolchain's nm; default nm)
set -euo pipefail
libs=$1
nm=${2:-nm}
# The routines, from the one list in src/routines.h: X(name, count) lines under each
# of its two macros. test_registration.R pins client.so's eight.
routines_of() {
  sed -n "/^#define $1(X)/,/^\$/p" "$(dirname "$0")/../../src/routines.h" |
    sed -n 's/^ *X(\(tarnwick_[a-z0-9_]*\), [0-9]*).*/\1/p'
}
mapfile -t fixed < <(routines_of CLIENT_FIXED_ROUTINES)
mapfile -t added < <(routines_of CLIENT_PACKAGE_ROUTINES)
# Fails unless the shared object $1 exports exactly the symbols after it.
expect_exports() {
  local so=$1 found
  shift
  # The linker's own markers of the data segment's end come with some linkers.
  found=$("$nm" -D --defined-only "$so" | awk '{print $3}' |
    grep -v -x -e __bss_start -e _edata -e _end | sort)
  if [ "$found" != "$(printf '%s\n' "$@" | sort)" ]; then
    echo "$(basename "$so") exports other symbols than expected:"
    diff <(printf '%s\n' "$@" | sort) <(echo "$found") || true
    return 1
  fi
  echo "$(basename "$so"): exports as expected ($# symbols)"
}

expect_exports "$libs/client.so" R_init_client r_throw_error r_throw_system_error \
  "${fixed[@]}"
expect_exports "$libs/client_package.so" R_init_client_package "${fixed[@]}" "${added[@]}"
