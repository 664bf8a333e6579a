#!/usr/bin/env bash
# Run by check.sh inside a Debian root, from a copy of the package sources,
# and by make rcmdcheck (build and check) on the host: one step of the check a call,
# each failing on any problem it finds.
#   versions  prints the versions of R and gcc
#   build     R CMD build
#   check     R CMD check --as-cran --no-manual on the tarball, offline; prints its
#             status and fails unless it is OK, printing what the check reported
#   install   installs the tarball into /tmp/lib with the strict warnings
#   suite     runs tools/run_tests.R against /tmp/lib; refuses to run with /proc
# Usage: steps.sh versions|build|check|install|suite
set -euo pipefail
# shellcheck source=SCRIPTDIR/../../lib.sh
source "$(dirname "$0")/../../lib.sh"
library=/tmp/lib
version=$(sed -n 's/^Version: *//p' DESCRIPTION)
tarball=client_$version.tar.gz

# Prints each check of 00check.log that did not end in OK or INFO, with its details,
# then the output of each test script that failed.
print_problems() {
  local log=client.Rcheck/00check.log fail
  echo "--- what the check reported ($log):"
  # A check's result ends its first line, or a line of its own when the check printed
  # progress first (the tests).
  awk '
    /^\* / { if (bad) printf "%s", block; block = ""; bad = 0 }
    /^\* DONE/ { exit }
    { block = block $0 "\n" }
    /^\* .* (NOTE|WARNING|ERROR)$/ || /^ *(\[[^]]*\] )?(NOTE|WARNING|ERROR)$/ { bad = 1 }
    END { if (bad) printf "%s", block }' "$log"
  for fail in client.Rcheck/tests/*.Rout.fail; do
    [ -e "$fail" ] || continue
    echo "--- $fail:"
    cat "$fail"
  done
}

# Whether the check's only problem is the NOTE that R before 4.5 gives for R's own
# connection interface (R_ext/Connections.h, which fd_connection() needs): those Rs
# list R_new_custom_connection outside their API, and R 4.5 made it part of the
# experimental API, which is how CRAN, checking with R 4.5 and later, sees it. No other
# way gives R a connection that writes to a descriptor unbuffered.
only_old_connection_note() {
  local problems
  [ "$1" = "Status: 1 NOTE" ] || return 1
  Rscript -e 'quit(status = if (getRversion() < "4.5.0") 0 else 1)' || return 1
  problems=$(print_problems)
  [ "$(grep -c '^\* ' <<<"$problems")" -eq 1 ] &&
    grep -q '^\* checking compiled code \.\.\. NOTE$' <<<"$problems" &&
    grep -q 'Found non-API call to R: .R_new_custom_connection.$' <<<"$problems"
}

check() {
  local start status
  # The CRAN incoming checks that ask CRAN (is the package there already, do its URLs
  # answer) and the check of file times against a time server would go online.
  export _R_CHECK_CRAN_INCOMING_REMOTE_=false
  export _R_CHECK_SYSTEM_CLOCK_=false
  # The check for dependency cycles reads the package index of the repositories in
  # getOption("repos"), which Debian's R sets to CRAN: point it to an empty local one
  # (with no repository at all, the check notes that it skipped this).
  mkdir -p /tmp/repository/src/contrib
  : >/tmp/repository/src/contrib/PACKAGES
  echo 'options(repos = c(CRAN = "file:///tmp/repository"))' >/tmp/offline.Rprofile
  export R_PROFILE_USER=/tmp/offline.Rprofile
  echo "R CMD check --as-cran --no-manual $tarball"
  start=$(date +%s)
  R CMD check --as-cran --no-manual "$tarball" >/tmp/check.out 2>&1 || true
  echo "R CMD check: $(($(date +%s) - start)) s"
  status=$(grep '^Status:' client.Rcheck/00check.log 2>/dev/null || true)
  if [ "$status" = "Status: OK" ]; then
    echo "$status"
    return 0
  fi
  if only_old_connection_note "$status"; then
    echo "$status: R_new_custom_connection, outside the API of R before 4.5 only"
    return 0
  fi
  if [ -n "$status" ]; then
    echo "$status"
    print_problems
  else
    echo "R CMD check ended without a status:"
    tail -n 40 /tmp/check.out
  fi
  return 1
}

suite() {
  local start status=0
  if [ -e /proc/self ]; then
    echo "/proc is mounted: the suite is meant to run without it"
    return 1
  fi
  start=$(date +%s)
  R_LIBS=$library Rscript --vanilla tools/run_tests.R || status=$?
  echo "test run without /proc: $(($(date +%s) - start)) s"
  return "$status"
}

case ${1:-} in
  versions)
    # sed reads to the end: head could end the pipe while the program still writes.
    R --version | sed -n 1p
    gcc --version | sed -n 1p
    ;;
  build) logged /tmp/build.log R CMD build . ;;
  check) check ;;
  install)
    mkdir -p "$library"
    R_MAKEVARS_USER="$PWD/tools/Makevars.strict" \
      r_cmd_install R /tmp/install.log "$library" "$tarball"
    grep -m 1 -E '^[^ ]*g\+\+ ' /tmp/install.log
    ;;
  suite) suite ;;
  *)
    echo "usage: $(basename "$0") versions|build|check|install|suite" >&2
    exit 2
    ;;
esac
