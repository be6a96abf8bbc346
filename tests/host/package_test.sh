#!/usr/bin/env bash
# Builds the Octave package, installs it into a temporary package prefix as a
# user would, and calls lumasift and its help from a folder that holds
# nothing of the project. The machine's own package lists are left alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tarball=$(bash "$here/../../scripts/package.sh" "$work")
export OCTAVE_HISTFILE=/dev/null
cd "$work"
octave-cli --no-gui --quiet --no-init-file --eval "
  pkg('prefix', '$work/prefix', '$work/prefix');
  pkg('local_list', '$work/local_packages');
  pkg('global_list', '$work/global_packages');
  pkg('install', '-local', '$tarball');
  pkg('load', 'lumasift');
  y = lumasift(magic(4), zeros(4), 1, 4);
  assert(size(y), [4 4]);
  assert(lumasift(2.5, 0, 1, 4), 2.5);
  text = evalc('help lumasift');
  assert(! isempty(strfind(text, 'Edge-aware smoothing')), 'help lumasift shows no help');
  assert(! isempty(strfind(evalc('lookfor edge'), 'lumasift')), 'lookfor edge misses lumasift');
  assert(exist('lumasift_demo') == 2, 'lumasift_demo is not installed');
  disp('package installed, loaded and called');"
