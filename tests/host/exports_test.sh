#!/usr/bin/env bash
# Lists the dynamic symbols that each module given defines: only mexFunction
# may be among them, so that modules loaded side by side never bind to each
# other's names. With --allow-std first, the standard library's own inline
# copies (namespace std, which the core cannot hide without build flags) may
# be there too.
set -euo pipefail
allowed='^mexFunction$'
if [ "${1:-}" = --allow-std ]; then
  allowed='^(mexFunction|_ZN?K?St.*|_ZNKSt.*)$'
  shift
fi
status=0
for module in "$@"; do
  names=$(nm -D --defined-only "$module" | awk '{ print $3 }' |
          grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$')
  extra=$(printf '%s\n' "$names" | grep -v -E "$allowed" || true)
  if [ -n "$extra" ]; then
    echo "$module exports more than mexFunction:"
    printf '%s\n' "$extra" | c++filt | sed 's/^/  /'
    status=1
  else
    echo "$module exports: $(printf '%s\n' "$names" | c++filt | tr '\n' ' ')"
  fi
done
exit $status
