#!/usr/bin/env bash
# Fails unless each of the package's two shared objects exports exactly its entry and
# its routines: client.so the eight routines, R_init_client and the two error raisers;
# client_package.so the same routines, those the package adds and its own entry.
# Usage: check_exports.sh LIBS_FOLDER [NM] (NM: a cross toolchain's nm; default nm)
set -euo pipefail
libs=$1
nm=${2:-nm}
fixed=(tarnwick_base64_decode tarnwick_base64_encode tarnwick_disable_inheritance
  tarnwick_set_stderr tarnwick_set_stderr_to_file tarnwick_set_stdout
  tarnwick_set_stdout_to_file tarnwick_write)
added=(tarnwick_base64_decode_file tarnwick_base64_decode_options
  tarnwick_base64_encode_file tarnwick_base64_encode_options tarnwick_close
  tarnwick_fd_connection tarnwick_follow_file tarnwick_follow_start tarnwick_follow_stop
  tarnwick_open_append)

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
