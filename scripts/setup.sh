#!/usr/bin/env bash
# Installs, from Debian's packages, whatever building and testing lumasift
# needs and the machine lacks, and the packages named as arguments. Needs
# root only when something is missing.
set -euo pipefail

packages=(g++ make cmake octave liboctave-dev libgtest-dev libbenchmark-dev clang libclang-rt-dev "$@")
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
