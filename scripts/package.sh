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
mkdir -p "$stage/lumasift/inst" "$stage/lumasift/src/filter/lanes" "$stage/lumasift/src/gateway" "$out_dir"
cp package/DESCRIPTION package/COPYING package/INDEX "$stage/lumasift/"
cp gateway/lumasift.m demo/lumasift_demo.m "$stage/lumasift/inst/"
cp package/Makefile "$stage/lumasift/src/"
cp filter/*.cpp filter/*.h "$stage/lumasift/src/filter/"
cp filter/lanes/*.cpp filter/lanes/*.h "$stage/lumasift/src/filter/lanes/"
cp gateway/*.cpp gateway/*.h "$stage/lumasift/src/gateway/"
tar -czf "$out_dir/lumasift-$version.tar.gz" -C "$stage" lumasift
echo "$out_dir/lumasift-$version.tar.gz"
