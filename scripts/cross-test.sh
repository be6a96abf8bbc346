#!/usr/bin/env bash
# Builds the C++ tests of the core for arm64 Linux and for 64-bit Windows
# with Debian's cross compilers (GoogleTest from Debian's googletest sources,
# built by the same compilers), and runs them under qemu-aarch64 and wine64:
# every lane path that exists on each target against the literal reference
# compiled for the same target. Windows is built twice: as a plain build,
# whose GCC must leave out the AVX lanes, and with the assembler told to make
# every vector move unaligned, which brings them back; the compiled code of
# both is checked for aligned vector moves to or from the stack. The
# gateways are compiled for both targets too. Installs what it needs.
#   bash scripts/cross-test.sh           every test
#   bash scripts/cross-test.sh --quick   a bounded part, as CI runs it
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh g++-aarch64-linux-gnu qemu-user g++-mingw-w64-x86-64-posix wine64 googletest
quick_filter='SampleTest*:WindowReachTest*:WedgeSumTest*:TablesTest*:ConvertTest*:EdgeLevelTest*:*SmallImages/neon_3*:*SmallImages/avx2_3*:*SmallImages/avx512_3*:*SmallImages/scalar_3*:*LoneEdges*/fastest*:TilesTest/TiledPaths.ImagesThatFit*/fastest'
filter='*'
[ "${1:-}" = --quick ] && filter=$quick_filter
out=build-cross
gtest=/usr/src/googletest/googletest
sources=(filter/*.cpp filter/lanes/*.cpp tests/support/reference.cpp tests/support/noise_reference.cpp tests/support/scenes.cpp tests/core/*.cpp
         "$gtest/src/gtest-all.cc" "$gtest/src/gtest_main.cc")
octave_include=$(mkoctfile -p OCTINCLUDEDIR)

# build NAME COMPILER FLAGS...: the test program $out/NAME/tests, statically
# linked, and the MEX gateways compiled (not linked: the host provides mex.h's
# functions). The oct-files are Octave's on this machine alone, built with
# its own headers.
build() {
  local name=$1 compiler=$2 suffix=
  shift 2
  case $compiler in *mingw*) suffix=.exe ;; esac
  local dir=$out/$name
  mkdir -p "$dir"
  printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -I{} sh -c \
    'o='"$dir"'/$(echo "{}" | tr "/" "_").o; '"$compiler"' -std=c++17 -O2 -ffp-contract=off -pthread '"$*"' -I. -Itests -I'"$gtest"'/include -I'"$gtest"' -c "{}" -o "$o"'
  "$compiler" -static -pthread "$dir"/*.o -o "$dir/tests$suffix"
  for gateway in gateway/*.cpp; do
    case $gateway in *_oct.cpp | gateway/octave_*.cpp) continue ;; esac
    "$compiler" -std=c++17 -O2 -ffp-contract=off "$@" -I"$octave_include" -c "$gateway" -o "$dir/gateway_$(basename "$gateway").obj"
  done
  echo "built $dir/tests$suffix"
}

# Aligned moves of 32- and 64-byte vectors to or from the stack, which fault
# where the stack is aligned to 16 bytes only.
check_stack_moves() {
  local dir=$1 found
  found=$(for object in "$dir"/*.o; do
            x86_64-w64-mingw32-objdump -d "$object"
          done | grep -E 'vmov(ap[sd]|dqa(32|64)?)[[:space:]].*%[yz]mm[0-9]+.*\(%r[sb]p\)|vmov(ap[sd]|dqa(32|64)?)[[:space:]].*\(%r[sb]p\).*%[yz]mm' || true)
  if [ -n "$found" ]; then
    echo "$dir: aligned vector moves to or from the stack:"
    echo "$found" | head -n 20
    return 1
  fi
  echo "$dir: no aligned vector move to or from the stack"
}

build arm64 aarch64-linux-gnu-g++
build windows x86_64-w64-mingw32-g++-posix
build windows-avx x86_64-w64-mingw32-g++-posix -DLUMASIFT_UNALIGNED_VECTOR_MOVES -Wa,-muse-unaligned-vector-move
check_stack_moves "$out/windows"
check_stack_moves "$out/windows-avx"
if x86_64-w64-mingw32-objdump -d "$out"/windows/*avx*.o | grep -q -E '%[yz]mm'; then
  echo "$out/windows: the plain build compiled AVX lanes"
  exit 1
fi

echo "== arm64, under qemu-aarch64"
qemu-aarch64 "$out/arm64/tests" --gtest_filter="$filter" --gtest_brief=1
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEPREFIX=$PWD/$out/wine WINEDEBUG=-all
for build in windows windows-avx; do
  echo "== $build, under wine64"
  "$wine" "$out/$build/tests.exe" --gtest_filter="$filter" --gtest_brief=1 2>&1 | grep -v -E '^wine: (created|configuration|failed to open L"C:)' || true
  [ "${PIPESTATUS[0]}" -eq 0 ]
done
