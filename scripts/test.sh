#!/usr/bin/env bash
# Sets up, builds and runs every test. OSTREL_SANITIZE=1 builds and tests with ASan+UBSan
# in build-asan/ instead of build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if [ "${OSTREL_SANITIZE:-0}" = 1 ]; then
  dir=build-asan
  flags=(-DOSTREL_SANITIZE=ON -DOSTREL_BENCH=OFF)
else
  dir=build
  flags=()
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$dir"
jobs=$(nproc)
ctest --test-dir "$dir" --output-on-failure -j "$jobs"
# Movement must give the same bits on every build: four builds of the body trace.
bash scripts/golden_physics.sh
# The generation math must give the same bits from every compiler and optimisation level.
bash scripts/detgen_golden.sh
