#!/usr/bin/env bash
# Builds Velmo and runs every test: the release build's suites, the core suites
# again under AddressSanitizer/UndefinedBehaviorSanitizer, and every fuzz target
# for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
# Runs ctest in a build folder and keeps its result line for the closing summary.
run_ctest() {
  local dir=$1; shift
  env "$@" ctest --test-dir "$dir" --output-on-failure -j"$jobs" | tee -a "$summary"
  return "${PIPESTATUS[0]}"
}

echo "== release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
run_ctest build QT_QPA_PLATFORM=offscreen

echo "== Debian package"
JOBS=$jobs bash scripts/build-package.sh build

echo "== sanitizer build and core tests"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_SANITIZE=ON -DVELMO_GUI=OFF -DVELMO_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
run_ctest build-asan ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

if [ -f tests/fuzz/CMakeLists.txt ]; then
  echo "== fuzz targets (${FUZZ_SECONDS} s each)"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_FUZZ=ON \
    -DVELMO_GUI=OFF -DVELMO_TESTS=OFF -DVELMO_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j"$jobs"
  bash scripts/run-fuzz.sh build-fuzz "$FUZZ_SECONDS"
fi
total=$(grep -oE 'tests failed out of [0-9]+' "$summary" | awk '{s += $5} END {print s + 0}')
skipped=$(grep -c '(Skipped)' "$summary" || true)
echo "all tests passed"
echo "ctest: $((total - skipped)) passed, 0 failed, $skipped skipped"
