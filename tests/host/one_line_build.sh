#!/usr/bin/env bash
# The build a user types: one plain mkoctfile --mex line per module, with no
# flags of ours, into the folder $1, with the help files beside. Then the
# interface tests run against it (the literal evaluation's module is in $2),
# including a window of the scheduled kernels, whose exactness in this build
# rests on the sources' own contraction pragmas; and the modules may export
# nothing of the core's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(realpath -m "$1")
reference_dir=$(realpath "$2")
cd "$here/../.."
rm -rf "$out"
mkdir -p "$out"
mkoctfile --mex -o "$out/lumasift.mex" filter/*.cpp filter/lanes/*.cpp gateway/gateway.cpp gateway/interrupt.cpp
mkoctfile -o "$out/imlumasift_mex.oct" filter/*.cpp filter/lanes/*.cpp gateway/imlumasift_oct.cpp gateway/octave_images.cpp gateway/interrupt.cpp
mkoctfile -o "$out/lumasift_edges_mex.oct" filter/*.cpp filter/lanes/*.cpp gateway/lumasift_edges_oct.cpp gateway/octave_images.cpp gateway/interrupt.cpp
cp gateway/*.m "$out/"
bash "$here/exports_test.sh" --allow-inline "$out/lumasift.mex" "$out/imlumasift_mex.oct" "$out/lumasift_edges_mex.oct"
bash "$here/run_octave_tests.sh" "$here/gateway_test.m" "$out" "$reference_dir"
for file in lumasift imlumasift lumasift_edges; do
  bash "$here/run_octave_tests.sh" "$out/$file.m" "$out" "$reference_dir"
done
