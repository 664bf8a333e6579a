#!/usr/bin/env bash
# ThreadSanitizer on the copier of split = TRUE: the harness runs the copier alone,
# then the package, built with -fsanitize=thread, runs the split tests and the
# interrupt sweep with the runtime preloaded into R and every child R. Any report
# fails the run.
set -euo pipefail
# shellcheck source=SCRIPTDIR/instrumented.sh
source "$(dirname "$0")/instrumented.sh"
build=$PWD/tools/build/tsan
flags="-g -O1 -fsanitize=thread"
mkdir -p "$build/reports"
rm -f "$build"/reports/*
g++ -std=c++17 -Wall -Wextra -pedantic -Werror $flags -pthread \
  -o "$build/follower_harness" tools/threads/follower_harness.cpp src/follower.cpp src/io.cpp
TSAN_OPTIONS="halt_on_error=1" "$build/follower_harness" 200

cat >"$build.Makevars" <<MAKEVARS
$(cat tools/Makevars.strict)
CXX17FLAGS += $flags
CFLAGS += $flags
LDFLAGS += -fsanitize=thread
MAKEVARS
# A library built with the sanitizer cannot be loaded without its runtime preloaded.
build_instrumented "$build" "$build.Makevars" --no-test-load

# The runtime must be preloaded into R processes alone: the shells that R starts crash
# with it. An R home of its own, links to R's but for three files, does that: its R
# script is R's own with its home, its bin/exec/R preloads the runtime and starts R's,
# and its etc/Renviron, which R reads even under --vanilla, clears LD_PRELOAD again
# for what R starts (R's own runtime stays). RHOME points Rscript there, and R.home() leads the tests' child R
# processes there too.
r_home=$(R RHOME)
home=$build/Rhome
rm -rf "$home"
mkdir -p "$home/bin" "$home/etc"
for entry in "$r_home"/*; do
  case $(basename "$entry") in bin | etc) ;; *) ln -s "$entry" "$home/" ;; esac
done
for entry in "$r_home"/bin/* "$r_home"/etc/*; do
  ln -s "$(readlink -f "$entry")" "$home/$(basename "$(dirname "$entry")")/"
done
rm "$home/bin/R" "$home/bin/exec" "$home/etc/Renviron"
mkdir -p "$home/bin/exec"
sed -e "s|^R_HOME_DIR=.*|R_HOME_DIR=$home|" -e 's|^if test "${R_HOME_DIR}" = "/usr/lib/R"; then|if false; then|' \
  "$r_home/bin/R" >"$home/bin/R"
chmod +x "$home/bin/R"
cat >"$home/bin/exec/R" <<WRAPPER
#!/bin/sh
LD_PRELOAD=$(g++ -print-file-name=libtsan.so) exec "$r_home/bin/exec/R" "\$@"
WRAPPER
chmod +x "$home/bin/exec/R"
# An empty value would leave the variable as it was; a blank one preloads nothing.
{ cat "$r_home/etc/Renviron"; echo 'LD_PRELOAD=" "'; } >"$home/etc/Renviron"

# R's own code is not instrumented: reports come from what this package does.
export TSAN_OPTIONS="log_path=$build/reports/tsan report_signal_unsafe=0"
export CLIENT_LONG_TESTS=0 CLIENT_TEST_HELPER="$build/helper/testhelper.so"
export RHOME=$home
status=0
R_LIBS="$build/lib" "$home/bin/Rscript" --vanilla tools/run_tests.R test_split.R \
  test_interrupts.R 2>&1 | sed -u 's/^\([0-9]* passed, [0-9]* failed\)$/tsan: \1/' ||
  status=$?
reports=$(find "$build/reports" -type f | wc -l)
if [ "$reports" -ne 0 ]; then
  cat "$build"/reports/*
fi
echo "tsan: $reports ThreadSanitizer reports"
[ "$status" -eq 0 ] && [ "$reports" -eq 0 ]
