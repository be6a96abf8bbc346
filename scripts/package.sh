#!/usr/bin/env bash
# Builds the Octave package lumasift-VERSION.tar.gz, which `pkg install`
# takes, in the folder given as the first argument (default: build/), and
# prints the tarball's path.
set -euo pipefail
cd "$(dirname "$0")/.."

out_dir=$(realpath -m "${1:-build}")
version=$(sed -n 's/^Version: //p' package/DESCRIPTION)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
package=$stage/lumasift
mkdir -p "$package/inst/resources" "$package/src/filter/lanes" "$package/src/gateway" "$out_dir"
cp package/DESCRIPTION package/INDEX "$package/"
cp LICENSE "$package/COPYING"
cp gateway/imlumasift.m gateway/lumasift_edges.m gateway/Contents.m demo/lumasift_demo.m "$package/inst/"
# MATLAB's completion of the functions' arguments; Octave leaves it alone.
cp gateway/resources/functionSignatures.json "$package/inst/resources/"
cp package/Makefile "$package/src/"
cp filter/*.cpp filter/*.h "$package/src/filter/"
cp filter/lanes/*.cpp filter/lanes/*.h "$package/src/filter/lanes/"
cp gateway/*.cpp gateway/*.h gateway/lumasift.m "$package/src/gateway/"
tar -czf "$out_dir/lumasift-$version.tar.gz" -C "$stage" lumasift
echo "$out_dir/lumasift-$version.tar.gz"
