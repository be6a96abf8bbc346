#!/usr/bin/env bash
# Installs, from Debian's packages, whatever building and testing lumasift
# needs and the machine lacks, and the packages named as arguments. Needs
# root only when something is missing.
set -euo pipefail

# The Python package and its tests (tests/python) use Debian's Python,
# numpy, pybind11, pytest and dask; scipy reads the .mat files they share
# with Octave; the command line reads and writes images through Pillow,
# tifffile and zarr.
packages=(g++ make cmake octave liboctave-dev libgtest-dev libbenchmark-dev clang libclang-rt-dev
          python3-pip python3-setuptools python3-dev python3-numpy python3-pybind11 pybind11-dev
          python3-pytest python3-dask python3-distributed python3-jsonschema python3-scipy
          python3-pil python3-tifffile python3-zarr "$@")
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}; run this script as root to install them" >&2
    exit 1
  fi
  echo "installing ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
