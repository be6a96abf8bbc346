#!/usr/bin/env bash
# Lists the dynamic symbols that each module given defines: only its entry
# point may be among them (mexFunction, or an oct-file's installer and
# function), so that modules loaded side by side never bind to each other's
# names. With --allow-inline first, for a plain one-line build, the inline
# copies of the standard library and of the host's C++ API (which the core
# cannot hide without build flags) may be there too, but nothing of the
# core's.
set -euo pipefail
entry='mexFunction|G[a-z_]+|_Z[0-9]+F[a-z_]+RK17octave_value_listi'
allow_inline=0
if [ "${1:-}" = --allow-inline ]; then
  allow_inline=1
  shift
fi
status=0
for module in "$@"; do
  names=$(nm -D --defined-only "$module" | awk '{ print $3 }' |
          grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$')
  if [ $allow_inline = 1 ]; then
    extra=$(printf '%s\n' "$names" | grep -v -E "^($entry)\$" | c++filt | grep 'lumasift' || true)
  else
    extra=$(printf '%s\n' "$names" | grep -v -E "^($entry)\$" | c++filt || true)
  fi
  if [ -n "$extra" ]; then
    echo "$module exports more than its entry point:"
    printf '%s\n' "$extra" | sed 's/^/  /'
    status=1
  else
    echo "$module exports: $(printf '%s\n' "$names" | c++filt | tr '\n' ' ')"
  fi
done
exit $status
