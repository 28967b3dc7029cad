#!/usr/bin/env bash
# Sets up, builds and runs the tests as CI does. Stages, in this order; with none named, all but
# checked, which doubles the time (scripts/test.sh release tsan runs two):
#   release  build/       the everyday build, warnings as errors; every test
#   golden   (a temp dir) the body trace built with g++ and clang at -O0 and -O2 and under UBSan
#                         gives the checked-in bits (scripts/golden_physics.sh), and so do the
#                         generation math builds (scripts/detgen_golden.sh)
#   checked  build-asan/  ASan and UBSan, assertions on, full debug info; every test
#   tsan     build-tsan/  ThreadSanitizer: the libraries and the test files holding stress
#                         tests; runs *Stress*. build-tsa/: clang 16's thread-safety analysis
#                         as errors over the sources that take a lock
# OSTREL_SANITIZE=1 runs the checked stage alone. First, scripts/check_internal.sh checks that
# internal headers stay in their folders. The benchmarks are not built here (see the README).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)

configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_BENCH=OFF "$@" >/dev/null
}

stage_release() {
  configure build -DOSTREL_WERROR=ON
  cmake --build build
  ctest --test-dir build --output-on-failure -j "$jobs"
}

stage_golden() {
  bash scripts/golden_physics.sh
  bash scripts/detgen_golden.sh
}

stage_checked() {
  configure build-asan -DOSTREL_SANITIZE=ON
  cmake --build build-asan
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
}

stage_tsan() {
  # g++: clang keeps a thread-local's address across a coroutine's suspension, so a coroutine
  # resumed on another thread uses the first thread's Asio allocator cache, which TSan reports.
  # -O1: a third less compile time than -O2, and TSan's reports keep their line tables.
  configure build-tsan -DOSTREL_TSAN=ON -DOSTREL_STRESS_ONLY=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
  # Only the test programs and what they link: not the server program or the golden tools.
  mapfile -t programs < <(ninja -C build-tsan -t targets all | grep -oE '^(core|server)/ostrel_[a-z_]+_tests?:' | tr -d :)
  cmake --build build-tsan --target "${programs[@]##*/}"
  TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R Stress --no-tests=error
  # The thread-safety analysis (clang only, errors in every clang build): the sources that take a
  # lock, compiled unoptimised without debug information.
  configure build-tsa -DOSTREL_STRESS_ONLY=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 \
    -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16
  mapfile -t locking < <(grep -rlE 'lock\(|Lock|Mutex|OSTREL_(GUARDED_BY|REQUIRES)|sync::' --include='*.cpp' core/src server/src app |
    sed -E 's#^(core|server)/##; s#^app/##')
  mapfile -t objects < <(ninja -C build-tsa -t targets all | grep -oE '^[^:]+\.cpp\.o' |
    grep -F -f <(printf '.dir/%s.o\n' "${locking[@]}"))
  ninja -C build-tsa "${objects[@]}"
  echo "test.sh: thread-safety analysis of ${#objects[@]} sources"
}

if [ $# -gt 0 ]; then
  stages=("$@")
elif [ "${OSTREL_SANITIZE:-0}" = 1 ]; then
  stages=(checked)
else
  stages=(release golden tsan)
fi

for stage in "${stages[@]}"; do
  case "$stage" in
    release | golden | checked | tsan) ;;
    *) echo "test.sh: unknown stage '$stage' (release, golden, checked, tsan)" >&2; exit 2 ;;
  esac
done
bash scripts/check_internal.sh
for stage in "${stages[@]}"; do
  start=$SECONDS
  "stage_$stage"
  echo "test.sh: stage $stage passed in $((SECONDS - start)) s"
done
