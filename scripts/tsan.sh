#!/usr/bin/env bash
# Builds the test programs with ThreadSanitizer in build-tsan/ and runs every concurrency test
# (a test named *Stress* or in a suite ending in Stress) under it; any race fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-tsan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_TSAN=ON \
  -DOSTREL_BENCH=OFF >/dev/null
cmake --build "$dir" --target ostrel_core_tests ostrel_server_tests
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
for program in "$dir/core/ostrel_core_tests" "$dir/server/ostrel_server_tests"; do
  "$program" --gtest_filter='*Stress*' --gtest_brief=1
done
