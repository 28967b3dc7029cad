#!/usr/bin/env bash
# Builds the body trace (400 ticks of movement, crowds, rides and replication, then seat offsets,
# look directions and aim distances over sweeps of facings) with g++ and
# clang at -O0 and -O2, and once more under UBSan with float-cast-overflow, and checks that
# every build prints the checked-in hash of every tick. Players predict their own movement, so
# the step must give the same bits on every build.
#
#   scripts/golden_physics.sh          check the builds
#   scripts/golden_physics.sh --write  rewrite the golden file from the g++ -O2 build
# CXX_LIST overrides the compilers (default "g++ clang++-16"); clang 14 cannot build
# std::expected, and libstdc++ 12 needs clang below 19 told that it has C++20 concepts.
set -euo pipefail
cd "$(dirname "$0")/.."

golden=server/tests/entities/golden/body_trace.txt
sources=(
  core/src/base/assert.cpp core/src/base/bitpack.cpp core/src/base/blake3.cpp core/src/base/error.cpp
  core/src/base/log.cpp core/src/base/num.cpp core/src/base/text.cpp core/src/detgen/trig.cpp
  core/src/world/block.cpp core/src/world/chunk.cpp core/src/world/coords.cpp
  core/src/light/permeability.cpp core/src/fluid/layer.cpp
  core/src/movement/phys.cpp core/src/movement/phys/voxels.cpp core/src/movement/phys/step.cpp
  core/src/movement/phys/swim.cpp core/src/movement/phys/crowd.cpp core/src/movement/phys/ray.cpp
  core/src/movement/ent.cpp core/src/movement/ent/component.cpp core/src/movement/ent/replicate.cpp
  core/src/movement/ent/mount.cpp core/src/movement/sight.cpp
  server/src/entities/population.cpp
  core/tests/support/voxel_world.cpp server/tests/support/body_trace.cpp
  server/tests/entities/golden/body_trace_main.cpp
)
common=(-std=c++2b -ffp-contract=off -fno-fast-math -Icore/src -Iserver/src -Icore/tests -Iserver/tests)
sanitize=(-fsanitize=undefined,float-cast-overflow -fno-sanitize-recover=all)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# build NAME CXX FLAG...: objects compiled in parallel, then linked and run into $work/NAME.txt.
build() {
  local name=$1 cxx=$2
  shift 2
  local flags=("${common[@]}" "$@")
  if [[ $cxx == clang* ]] && (($("$cxx" -dumpversion | cut -d. -f1) < 19)); then
    flags+=(-Wno-builtin-macro-redefined -Wno-macro-redefined -D__cpp_concepts=202002L)
  fi
  mkdir -p "$work/$name"
  printf '%s\n' "${sources[@]}" |
    xargs -P "$(nproc)" -I{} sh -c 'exec "$@" -c {} -o "$0/$(echo {} | tr / _).o"' \
      "$work/$name" "$cxx" "${flags[@]}"
  "$cxx" "$@" "$work/$name"/*.o -lfmt -o "$work/$name/trace"
  "$work/$name/trace" > "$work/$name.txt"
}

if [[ ${1:-} == --write ]]; then
  build write g++ -O2
  cp "$work/write.txt" "$golden"
  echo "wrote $golden"
  exit 0
fi

status=0
check() {
  local name=$1
  if cmp -s "$work/$name.txt" "$golden"; then
    echo "body trace: $name matches"
  else
    echo "body trace: $name differs from $golden"
    diff "$golden" "$work/$name.txt" | head -4 || true
    status=1
  fi
}

read -r -a compilers <<< "${CXX_LIST:-g++ clang++-16}"
for cxx in "${compilers[@]}"; do
  for opt in -O0 -O2; do
    build "$cxx$opt" "$cxx" "$opt"
    check "$cxx$opt"
  done
done
build "g++-ubsan" g++ -O1 "${sanitize[@]}"
check "g++-ubsan"
exit $status
