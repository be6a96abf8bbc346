#!/usr/bin/env bash
# Sets up and builds, then measures: Google Benchmark of the literal
# evaluation and the product in C++, and lumasift called from Octave against
# the literal evaluation in the same run. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
echo "cores: $(nproc)"
./build/bench/lumasift_bench --benchmark_counters_tabular=true --benchmark_repetitions=9 \
  --benchmark_report_aggregates_only=true "$@"
export OCTAVE_HISTFILE=/dev/null
octave-cli --no-gui --quiet --no-init-file \
  --eval "addpath('$PWD/build', '$PWD/build/tests', '$PWD/bench'); octave_timing"
