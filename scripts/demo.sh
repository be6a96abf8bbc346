#!/usr/bin/env bash
# Sets up, builds, and filters the bundled default scene in Octave. Writes the
# input, its edge map and the result as PNG files to the folder given as the
# first argument (default: out/).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
out_dir=$(realpath -m "${1:-out}")
export OCTAVE_HISTFILE=/dev/null
octave-cli --no-gui --quiet --no-init-file \
  --eval "addpath('$PWD/build', '$PWD/demo'); lumasift_demo('', '$out_dir');"
