#!/usr/bin/env bash
# Sets up and builds, then measures in one run: lumasift against the floor
# of this machine (bench/floor.h) and imlumasift against lumasift, in C++;
# OpenCV's edge-aware filters from Debian's python3-opencv on the same
# scene; and lumasift called from Octave against the literal evaluation.
# Not part of the tests. Arguments go to the C++ benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh python3-opencv
bash scripts/build.sh
echo "cores: $(nproc)"
./build/bench/lumasift_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true "$@"
/usr/bin/python3 bench/peers.py
export OCTAVE_HISTFILE=/dev/null
octave-cli --no-gui --quiet --no-init-file \
  --eval "addpath('$PWD/build', '$PWD/build/tests', '$PWD/bench'); octave_timing"
