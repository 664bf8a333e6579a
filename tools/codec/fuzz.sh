#!/usr/bin/env bash
# Builds the fuzz targets of tools/codec/fuzz/ with clang and runs each for $1 seconds
# (default 60): fuzz_b64 on the plain codec, fuzz_b64_text on text with options.
# Prints a line per target with its executions and rate; fails on any finding.
# Run from the repository top.
set -euo pipefail
seconds=${1:-60}
build=${FUZZ_BUILD:-tools/build/fuzz}
mkdir -p "$build/findings"
# The model is the reference, not what the fuzzer explores: left without coverage
# hooks, its character-by-character loops no longer halve the rate.
printf 'fun:_ZN5model*\n' >"$build/model.ignore"

# Builds the target $1, runs it for $seconds s on the corpus $build/$2 grown from the
# seeds in tools/codec/fuzz/$3, and prints its line. Returns non-zero on a finding.
run_target() {
  local name=$1 corpus=$build/$2 seeds=tools/codec/fuzz/$3 log=$build/$1.log
  mkdir -p "$corpus"
  clang++-14 -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined \
    -fno-sanitize-recover=all -fsanitize-coverage-ignorelist="$build/model.ignore" \
    -Wall -Wextra -pedantic -Werror \
    -o "$build/$name" "tools/codec/fuzz/$name.cpp" src/b64_*.cpp || return 1
  # New inputs go to the build folder; the repository's seeds are only read.
  local status=0
  "$build/$name" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name-" "$corpus" "$seeds" \
    >"$log" 2>&1 || status=$?
  local runs rate
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    echo "$name: FAILED after ${runs:-?} executions; inputs in $build/findings/"
    return 1
  fi
  echo "$name: ${seconds} s, ${runs} executions, ${rate} exec/s, 0 findings"
}

failed=0
run_target fuzz_b64 corpus corpus || failed=1
run_target fuzz_b64_text corpus_text corpus_text || failed=1
exit "$failed"
