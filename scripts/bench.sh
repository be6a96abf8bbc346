#!/usr/bin/env bash
# Sets up and builds, then measures in one run: lumasift against the floor
# of this machine (bench/floor.h) and imlumasift against lumasift, in C++;
# OpenCV's edge-aware filters from Debian's python3-opencv on the same
# scene; lumasift called from Octave against the literal evaluation; and
# imlumasift with nothing but a 24-megapixel photograph, against OpenCV's
# bilateral filter on it; the Python package's call against the Octave
# module's, and on a dask cluster. Not part of the tests (bench/quality.py, which
# measures the defaults' quality, is run on its own). Arguments go to the C++
# benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh python3-opencv python3-skimage python3-scipy
bash scripts/build.sh
photos=$(bash scripts/photos.sh)
echo "cores: $(nproc)"
./build/bench/lumasift_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true "$@"
/usr/bin/python3 bench/peers.py "$photos"
export OCTAVE_HISTFILE=/dev/null
octave-cli --no-gui --quiet --no-init-file \
  --eval "addpath('$PWD/build', '$PWD/build/tests', '$PWD/build/bench', '$PWD/bench'); octave_timing; default_path('$photos')"
# The Python package against the Octave module, and on a dask cluster.
site=build/bench-python-site
/usr/bin/python3 -m pip install --quiet --disable-pip-version-check --root-user-action=ignore \
  --no-build-isolation --no-deps --target "$site" ./python
PYTHONPATH="$site" /usr/bin/python3 bench/python_bench.py build
