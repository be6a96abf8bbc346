#!/usr/bin/env bash
# Sets up the machine if needed, then builds the core, the Octave module and
# the tests into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
