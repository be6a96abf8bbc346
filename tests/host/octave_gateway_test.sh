#!/usr/bin/env bash
# Runs the gateway's tests inside Octave against the lumasift module in $1,
# with the literal evaluation's module in $2. test() in its default mode stops
# at the first failure and still exits 0, so the passing blocks are counted.
set -euo pipefail
export OCTAVE_HISTFILE=/dev/null
here=$(cd "$(dirname "$0")" && pwd)
octave-cli --no-gui --quiet --no-init-file --eval "
  addpath('$1', '$2');
  [n, nmax] = test('$here/gateway_test.m', 'quiet', stdout);
  printf('%d of %d test blocks passed\n', n, nmax);
  exit(n < nmax || nmax == 0);"
