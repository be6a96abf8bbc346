#!/usr/bin/env bash
# Sets up, builds, and runs every test: the C++ core under GoogleTest and the
# module inside Octave, then the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threads under ThreadSanitizer, a bounded
# fuzzing run (LUMASIFT_FUZZ_SECONDS, default 60), and a bounded part of the
# arm64 and Windows cross tests. Any report fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
export OCTAVE_HISTFILE=/dev/null
jobs=$(nproc)

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMASIFT_SANITIZE=address,undefined
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer, on the tests that run several threads"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMASIFT_SANITIZE=thread
cmake --build build-tsan -j "$jobs" --target lumasift_tests
# The wide-window cases run under the other sanitizers: here they would take
# many minutes and reach no thread code that the others do not.
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R '3_threads|automatic|Overlapping|LaterCalls|StopRequest' \
  -E 'EveryLanePath'

echo "== Fuzzing against the literal evaluation"
bash scripts/fuzz.sh "${LUMASIFT_FUZZ_SECONDS:-60}"

echo "== arm64 and Windows builds, under qemu-aarch64 and wine64 (a bounded part)"
bash scripts/cross-test.sh --quick

echo "== The tests"
ctest --test-dir build --output-on-failure -j "$jobs"
