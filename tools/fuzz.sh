#!/usr/bin/env bash
# Builds the base64 fuzz harness with clang and runs it for $1 seconds (default 60).
# Fails on any finding; prints the executions and the rate. Run from the repository top.
set -euo pipefail
seconds=${1:-60}
build=${FUZZ_BUILD:-tools/build/fuzz}
mkdir -p "$build/corpus" "$build/findings"
clang++-14 -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -Wall -Wextra -pedantic -Werror \
  -o "$build/fuzz_b64" tools/fuzz/fuzz_b64.cpp src/b64_*.cpp
# New inputs go to the build folder; the repository's corpus is only read.
status=0
"$build/fuzz_b64" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$build/findings/" "$build/corpus" tools/fuzz/corpus \
  >"$build/log" 2>&1 || status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$build/log")
if [ "$status" -ne 0 ]; then
  tail -n 40 "$build/log"
  echo "fuzz: FAILED after ${runs:-?} executions; inputs in $build/findings/"
  exit 1
fi
echo "fuzz: ${seconds} s, ${runs} executions, ${rate} exec/s, 0 findings"
