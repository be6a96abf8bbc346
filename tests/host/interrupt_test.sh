#!/usr/bin/env bash
# Ctrl-C during long calls, as a user at the Octave prompt presses it: an
# interactive octave-cli reads its commands from a FIFO, and SIGINT reaches
# it in the middle of each function's call. Each call must end within 0.2 s
# with an error, assign nothing, leave no thread behind, and the next call
# must give the bits the same call gave before.
# Arguments: the folder of the modules, then the calls, each a function of
# x (600x600), e (its edges) and b (8000x8000x3 uint8), such as
# "lumasift(x, e, 33, 0.5)"; each function is called once.
set -euo pipefail
module_dir=$1
shift
export OCTAVE_HISTFILE=/dev/null
work=$(mktemp -d)
octave_pid=
cleanup() {
  [ -n "$octave_pid" ] && kill -9 "$octave_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkfifo "$work/commands"
octave-cli --interactive --no-line-editing --no-init-file -q < "$work/commands" > "$work/log" 2>&1 &
octave_pid=$!
exec 3> "$work/commands"

send() { printf '%s\n' "$1" >&3; }
fail() {
  echo "FAIL: $*"
  echo "--- Octave's output:"
  cat "$work/log"
  exit 1
}
# Waits until a line of Octave's output matches, for at most $2 seconds.
wait_for() {
  local deadline=$((SECONDS + $2))
  until grep -q -- "$1" "$work/log"; do
    [ $SECONDS -le $deadline ] || fail "no '$1' within $2 s"
    sleep 0.002
  done
}

send "PS1(''); addpath('$module_dir'); rand('seed', 1); x = rand(600); e = 200 * (rand(600) < 0.02); b = repmat(uint8(255 * rand(1000)), [8 8 3]); threads = numel(dir('/proc/self/task')); printf('ready\n');"
wait_for 'ready' 60
round=0
for call in "$@"; do
  name=${call%%(*}
  send "before = $call; printf('$name computed\n');"
  wait_for "^$name computed" 120
  send "printf('$name started\n'); y = $call; printf('$name finished\n');"
  wait_for "^$name started" 10
  sleep 0.3
  start=$(date +%s%N)
  kill -INT "$octave_pid"
  send "printf('$name answered, y exists: %d\n', exist('y'));"
  wait_for "^$name answered" 30
  elapsed_ms=$((($(date +%s%N) - start) / 1000000))
  grep -q "^$name finished" "$work/log" && fail "$name ran to its end"
  round=$((round + 1))
  message=$(grep "Interrupted\." "$work/log" | sed -n "${round}p")
  [ -n "$message" ] || fail "$name raised no 'Interrupted.' error"
  grep -q "^$name answered, y exists: 0" "$work/log" || fail "$name assigned its result"
  [ "$elapsed_ms" -lt 200 ] || fail "$name took $elapsed_ms ms to stop"
  send "printf('$name threads %d of %d\n', numel(dir('/proc/self/task')), threads); after = $call; printf('$name same bits: %d\n', isequal(before, after));"
  wait_for "^$name same bits" 120
  grep -q "^$name threads \([0-9]*\) of \1$" "$work/log" || fail "$name left threads behind"
  grep -q "^$name same bits: 1" "$work/log" || fail "$name gave other bits after the interrupt"
  echo "$name: '$message' $elapsed_ms ms after SIGINT, nothing assigned, no thread left, same bits after"
  send "clear y before after"
done
send "exit"
wait "$octave_pid"
octave_pid=
