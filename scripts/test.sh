#!/usr/bin/env bash
# Sets up, builds, and runs every test: the C++ core under GoogleTest and the
# module inside Octave, all through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
export OCTAVE_HISTFILE=/dev/null
ctest --test-dir build --output-on-failure -j "$(nproc)"
