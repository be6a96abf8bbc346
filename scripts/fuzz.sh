#!/usr/bin/env bash
# Builds the fuzz target with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for the seconds given as the first
# argument (default 60), starting from the seed corpus in tests/fuzz/corpus.
# Stops with an error at the first input whose result differs from the
# literal evaluation or that trips a sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
mkdir -p build-fuzz/corpus
clang++ -std=c++17 -O1 -g -ffp-contract=off -pthread \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I. -Itests tests/fuzz/fuzz_filter.cpp tests/support/reference.cpp filter/*.cpp filter/lanes/*.cpp -o build-fuzz/fuzz_filter
cp tests/fuzz/corpus/* build-fuzz/corpus/
./build-fuzz/fuzz_filter -max_total_time="${1:-60}" -print_final_stats=1 build-fuzz/corpus
