#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite (GUI tests under a
# virtual display), the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and each fuzz target briefly over its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600

echo "== unit tests under ASan+UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOMBRIK_SANITIZE=ON -DOMBRIK_BUILD_GUI=OFF \
  -DOMBRIK_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE "gui|slow" --timeout 900

echo "== fuzz targets, briefly"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIK_BUILD_FUZZ=ON \
  -DOMBRIK_BUILD_GUI=OFF -DOMBRIK_BUILD_TESTS=OFF -DOMBRIK_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
for target in build-fuzz/fuzz/*/*_fuzzer; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzzer)
  work=$(mktemp -d)
  echo "-- $name"
  "$target" -max_total_time="${OMBRIK_FUZZ_SECONDS:-30}" -rss_limit_mb=2048 "$work" "fuzz/$name/corpus" 2>&1 | tail -n 2
  rm -rf "$work"
done
echo "all tests passed"
