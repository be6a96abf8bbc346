#!/usr/bin/env bash
# Builds the Python package as a user installs it, offline with pip against
# Debian's numpy and pybind11, into SITE_DIR (emptied first), and runs the
# Python tests on it. With LUMASIFT_MODULE_DIR naming the built Octave
# modules, the results are compared with theirs bit for bit. Exits 77 when
# the machine lacks what the build or the tests need.
# Usage: run_pytest.sh SITE_DIR [pytest arguments]
set -euo pipefail
repository=$(cd "$(dirname "$0")/../.." && pwd)
site=$1
shift
python=/usr/bin/python3

if ! "$python" -c 'import pybind11, numpy, pytest, setuptools' 2>/dev/null; then
  echo "pybind11, numpy, pytest or setuptools missing for $python: the Python tests are skipped" >&2
  exit 77
fi
rm -rf "$site"
"$python" -m pip install --quiet --disable-pip-version-check --root-user-action=ignore \
  --no-build-isolation --no-deps --target "$site" "$repository/python"
cd "$repository/tests/python"
PYTHONPATH="$site" exec "$python" -m pytest -q -p no:cacheprovider "$@" .
