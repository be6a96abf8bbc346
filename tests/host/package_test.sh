#!/usr/bin/env bash
# Builds the Octave package, installs it into a temporary package prefix as a
# user would, and from a folder that holds nothing of the project: calls the
# functions, reads their help, and runs pkg test, whose tests must all pass.
# The modules must sit where pkg puts architecture-dependent files. The
# machine's own package lists are left alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tarball=$(bash "$here/../../scripts/package.sh" "$work")
export OCTAVE_HISTFILE=/dev/null
cd "$work"
octave-cli --no-gui --quiet --no-init-file --eval "
  pkg('prefix', '$work/prefix', '$work/arch');
  pkg('local_list', '$work/local_packages');
  pkg('global_list', '$work/global_packages');
  pkg('install', '-local', '$tarball');
  pkg('load', 'lumasift');
  for name = {'lumasift', 'imlumasift_mex', 'lumasift_edges_mex'}
    where = which(name{1});
    assert(strncmp(where, '$work/arch/', numel('$work/arch/')), '%s is at %s', name{1}, where);
  end
  assert(lumasift(2.5, 0, 1, 4), 2.5);
  assert(class(imlumasift(uint8(magic(4)))), 'uint8');
  helps = {'lumasift', 'Edge-aware smoothing'; 'imlumasift', 'any size, class and colour'; ...
           'lumasift_edges', 'Edge map'; 'lumasift_demo', 'lumasift'};
  for k = 1:rows(helps)
    text = evalc(['help ' helps{k, 1}]);
    assert(! isempty(strfind(text, helps{k, 2})), 'help %s shows no help', helps{k, 1});
  end
  assert(! isempty(strfind(evalc('lookfor edge'), 'lumasift')), 'lookfor edge misses lumasift');
  report = evalc('pkg test lumasift');
  counts = regexp(report, 'PASS\s+(\d+)\s+FAIL\s+(\d+)', 'tokens', 'once');
  if (isempty(counts) || str2double(counts{1}) < 20 || str2double(counts{2}) != 0)
    disp(report);
    error('pkg test lumasift did not pass');
  end
  printf('package installed and loaded; pkg test: %s tests passed\n', counts{1});"
