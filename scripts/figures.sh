#!/usr/bin/env bash
# Sets up and builds, then makes the README's figures in docs/figures/ from
# the quality and speed benchmarks (bench/figures.py), with Debian's
# matplotlib, OpenCV and scikit-image. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh python3-matplotlib python3-opencv python3-skimage
photos=$(bash scripts/photos.sh)
site=build/bench-python-site
/usr/bin/python3 -m pip install --quiet --upgrade --disable-pip-version-check --root-user-action=ignore \
  --no-build-isolation --no-deps --target "$site" ./python
echo "cores: $(nproc)"
/usr/bin/python3 bench/figures.py "$photos" docs/figures
