#!/usr/bin/env bash
# Runs the test suite in R under valgrind's memcheck, child R processes included, and
# fails on any invalid read or write, or on any other error whose stack passes through
# the library. R's own errors elsewhere are listed but do not fail the run.
# The long tests are skipped (CLIENT_LONG_TESTS=0): the long-vector one needs about
# 5 GB, and hours under valgrind, and the long parts of the memory test are about the C
# library's allocator, which valgrind replaces with its own.
set -euo pipefail
# shellcheck source=SCRIPTDIR/instrumented.sh
source "$(dirname "$0")/instrumented.sh"
build=$PWD/tools/build/valgrind
build_instrumented "$build" "$PWD/tools/Makevars.strict"
mkdir -p "$build/logs"
# Small programs that R's start-up script and the tests run are not worth tracing.
skip='*/uname,*/sed,*/rm,*/mkdir,*/cat,*/echo,*/test,*/true,*/grep,*/dirname,*/readlink'
status=0
CLIENT_LONG_TESTS=0 CLIENT_TEST_HELPER="$build/helper/testhelper.so" R_LIBS="$build/lib" \
  R -d "valgrind --tool=memcheck --trace-children=yes --trace-children-skip=$skip \
    --log-file=$build/logs/%p.log" --vanilla --no-echo -f tools/run_tests.R 2>&1 \
  | sed -u 's/^\([0-9]* passed, [0-9]* failed\)$/valgrind: \1/' || status=$?
# Each report is one paragraph once valgrind's "==pid==" prefix is gone. A report is the
# library's when its stack passes through either shared object or any of its sources.
sources=$(cd src && ls -- *.cpp *.h | paste -s -d '|')
bad=$(sed 's/^==[0-9]*== \{0,1\}//' "$build"/logs/*.log | awk -v sources="$sources" '
  BEGIN { RS = ""; library = "client(_package)?\\.so|\\((" sources "):" }
  /Invalid (read|write)/ || $0 ~ library { n++; print > "/dev/stderr" }
  END { print n + 0 }')
all=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$build"/logs/*.log \
  | awk '{ n += $1 } END { print n + 0 }')
echo "valgrind: $(ls "$build/logs" | wc -l) processes, $all reports, $bad of them" \
  "invalid accesses or in the library (logs in $build/logs)"
[ "$status" -eq 0 ] && [ "$bad" -eq 0 ]
