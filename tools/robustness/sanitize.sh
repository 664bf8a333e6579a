#!/usr/bin/env bash
# Builds the package with AddressSanitizer and UndefinedBehaviorSanitizer (gcc's
# runtimes, as R's own compiler) and runs the test suite and the bad-input battery with
# the runtime preloaded into R and into every child R they start. Any sanitizer report
# fails the run.
# The long tests are skipped (CLIENT_LONG_TESTS=0): the long-vector one needs about
# 5 GB, more under the sanitizer, and the long parts of the memory test are about the C
# library's allocator, which ASan replaces with its own.
set -euo pipefail
# shellcheck source=SCRIPTDIR/instrumented.sh
source "$(dirname "$0")/instrumented.sh"
build=$PWD/tools/build/sanitize
sanitize_flags="-g -O1 -fsanitize=address,undefined -fno-omit-frame-pointer"
mkdir -p tools/build
cat >tools/build/sanitize.Makevars <<MAKEVARS
$(cat tools/Makevars.strict)
CXX17FLAGS += $sanitize_flags
CFLAGS += $sanitize_flags
LDFLAGS += -fsanitize=address,undefined
MAKEVARS
# A library built with the sanitizer cannot be loaded without its runtime preloaded.
build_instrumented "$build" "$PWD/tools/build/sanitize.Makevars" --no-test-load
mkdir -p "$build/reports"

# Reports go to files, so that those of child processes are seen as well.
export LD_PRELOAD
LD_PRELOAD=$(g++ -print-file-name=libasan.so)
export ASAN_OPTIONS="detect_leaks=0:log_path=$build/reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$build/reports/ubsan"
export CLIENT_LONG_TESTS=0 CLIENT_TEST_HELPER="$build/helper/testhelper.so"
status=0
R_LIBS="$build/lib" Rscript --vanilla tools/run_tests.R 2>&1 \
  | sed -u 's/^\([0-9]* passed, [0-9]* failed\)$/sanitize: \1/' || status=$?
# The bad-input battery as well: its calls take paths that the tests do not. The .Call
# calls only: the package's functions reach the library through the same routines.
R_LIBS="$build/lib" Rscript --vanilla tools/robustness/battery.R --direct-only 2>&1 \
  | sed -u "s/^battery:/sanitize: battery:/" || status=$?
unset LD_PRELOAD
reports=$(find "$build/reports" -type f | wc -l)
if [ "$reports" -ne 0 ]; then
  cat "$build"/reports/*
fi
echo "sanitize: $reports sanitizer reports"
[ "$status" -eq 0 ] && [ "$reports" -eq 0 ]
