#!/usr/bin/env bash
# The golden check of the generation math: the Python reference still writes the committed
# samples, then the detgen target and its golden program are built with g++ and clang-16, each
# at -O0 and -O2, plus once under clang's float-cast-overflow and undefined-behaviour checks, and
# every build must give the committed digests (the battery's and the chunk buffer recipe's).
# Build trees live in build-golden/.
set -euo pipefail
cd "$(dirname "$0")/.."

python3 core/tests/detgen/reference/noise_reference.py --check

root=build-golden
jobs=2  # per build; the five run side by side
builds=(
  "gcc-O0|gcc|g++|-O0"
  "gcc-O2|gcc|g++|-O2"
  "clang-O0|clang-16|clang++-16|-O0"
  "clang-O2|clang-16|clang++-16|-O2"
  "clang-ubsan|clang-16|clang++-16|-O1 -fsanitize=float-cast-overflow,undefined -fno-sanitize-recover=all"
)
# One build in one directory; prints the program's verdict.
build_and_run() {
  local name=$1 cc=$2 cxx=$3 flags=$4 dir="$root/$1"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_FLAGS="$flags" -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF >/dev/null
  cmake --build "$dir" --target detgen_golden -j "$jobs" >/dev/null
  "$dir/core/detgen_golden" 2>&1
}

mkdir -p "$root"
pids=()
for b in "${builds[@]}"; do
  IFS='|' read -r name cc cxx flags <<<"$b"
  build_and_run "$name" "$cc" "$cxx" "$flags" >"$root/$name.log" 2>&1 &
  pids+=("$!")
done
failed=0
for i in "${!builds[@]}"; do
  name=${builds[$i]%%|*}
  if wait "${pids[$i]}"; then
    echo "$name: $(tail -1 "$root/$name.log")"
  else
    echo "$name: FAILED"
    head -20 "$root/$name.log"
    failed=1
  fi
done
exit $failed
