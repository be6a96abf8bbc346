#!/usr/bin/env bash
# Sets up, builds, and runs lumasift_demo in Octave on the bundled scene:
# noisy input, edge map, lumasift at two widths and a plain Gaussian, side by
# side in one PNG (default: out/lumasift_demo.png), with the PSNR of each
# result and the filter's time. A first argument names another picture to
# write; a second, your own picture to use as the clean scene.
#   bash scripts/demo.sh --photo   does the same with a colour photograph
# from Debian's python3-skimage, into out/lumasift_photo_demo.jpg.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "setting up and building (log: build.log)"
bash scripts/build.sh > build.log 2>&1 || { cat build.log; exit 1; }
if [ "${1:-}" = --photo ]; then
  out_file=$(realpath -m out/lumasift_photo_demo.jpg)
  image_file=$(bash scripts/photos.sh)/astronaut.png
else
  out_file=$(realpath -m "${1:-out/lumasift_demo.png}")
  image_file=${2:+$(realpath "$2")}
fi
export OCTAVE_HISTFILE=/dev/null
octave-cli --no-gui --quiet --no-init-file \
  --eval "addpath('$PWD/build', '$PWD/demo'); lumasift_demo('$image_file', '$out_file');" 2>&1 |
  grep -v -E 'iCCP|^warning: called from|^ +[a-z_>]+ at line|^$' || true
test -s "$out_file"
