#!/usr/bin/env bash
# Calls whose memory cannot be had, in a child Octave whose address space
# ulimit -v bounds: results larger than what is left, and a tall image whose
# edges need more working space than its result. Each must end in an error
# that speaks of memory, never a crash, and the next call must work.
# Argument: the folder of the modules.
set -euo pipefail
export OCTAVE_HISTFILE=/dev/null
module_dir=$(realpath "$1")
log=$(mktemp)
trap 'rm -f "$log"' EXIT
(
  ulimit -v 3000000
  octave-cli --no-gui --quiet --no-init-file --eval "
    addpath('$module_dir');
    calls = {@() imlumasift(zeros(16000)), @() imlumasift(zeros(16000), [], 1, 0.3), ...
             @() lumasift_edges(zeros(16000)), @() lumasift_edges(zeros(1e8, 1, 'uint8'))};
    for k = 1:numel(calls)
      try
        y = calls{k}();
        printf('call %d: no error\n', k);
      catch err
        printf('call %d: [%s] %s\n', k, err.identifier, err.message);
      end
      clear y
    end
    assert(imlumasift(uint8(magic(5)), [], 1, 0.3), imlumasift(uint8(magic(5)), [], 1, 0.3));
    printf('still working\n');" > "$log" 2>&1
) || true
cat "$log"
[ "$(grep -c -i 'memory' "$log")" -eq 4 ] || { echo "FAIL: not every call ended in an error about memory"; exit 1; }
grep -q '^still working$' "$log" || { echo "FAIL: Octave did not go on"; exit 1; }
echo "every call ended in an error about memory, and Octave went on"
