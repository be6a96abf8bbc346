#!/usr/bin/env bash
# Fetches the public-domain sample photographs that Debian's python3-skimage
# ships, without installing the package or anything it depends on: the
# package is downloaded and only its images are unpacked, into the folder
# given as the first argument (default: photos/). Prints the folder.
set -euo pipefail
cd "$(dirname "$0")/.."

out_dir=$(realpath -m "${1:-photos}")
wanted=(astronaut.png camera.png chelsea.png coffee.png hubble_deep_field.jpg retina.jpg rocket.jpg
        motorcycle_left.png coins.png moon.png cell.png clock_motion.png brick.png grass.png gravel.png
        page.png text.png ihc.png)
missing=0
for name in "${wanted[@]}"; do
  [ -s "$out_dir/$name" ] || missing=1
done
if [ $missing -eq 1 ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  if ! (cd "$work" && apt-get download python3-skimage > /dev/null 2>&1); then
    # The package lists may be missing on a fresh machine.
    apt-get update -q > /dev/null
    (cd "$work" && apt-get download python3-skimage > /dev/null)
  fi
  dpkg-deb -x "$work"/python3-skimage_*.deb "$work/unpacked"
  mkdir -p "$out_dir"
  for name in "${wanted[@]}"; do
    cp "$work/unpacked/usr/lib/python3/dist-packages/skimage/data/$name" "$out_dir/"
  done
fi
echo "$out_dir"
