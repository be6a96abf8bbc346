#!/usr/bin/env bash
# Runs the test blocks of the Octave file $1 with the folders $2, $3, ... and
# tests/host on the path. test() in its default mode stops at the first
# failure and still exits 0, so the passing blocks are counted.
set -euo pipefail
export OCTAVE_HISTFILE=/dev/null
here=$(cd "$(dirname "$0")" && pwd)
file=$(realpath "$1")
shift
folders=$(printf "'%s', " "$@")
octave-cli --no-gui --quiet --no-init-file --eval "
  addpath(${folders} '$here');
  [n, nmax] = test('$file', 'quiet', stdout);
  printf('%d of %d test blocks passed\n', n, nmax);
  exit(n < nmax || nmax == 0);"
