#!/usr/bin/env bash
# Runs a command on an X display of its own: a fresh Xvfb that picks a free display number
# itself (no race between two starts), stopped when the command ends, also when it fails
# or is killed. Tests that show modal dialogs and rely on which window is active run this
# way side by side: no other test's window can take the keyboard focus from them.
set -euo pipefail

numberfile=$(mktemp)
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -f "$numberfile"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -noreset \
  3>"$numberfile" </dev/null >/dev/null 2>&1 &
xvfb_pid=$!

# The server writes its display number once it listens; give it 20 s.
for _ in $(seq 1 200); do
  if grep -q '^[0-9][0-9]*$' "$numberfile" 2>/dev/null; then
    break
  fi
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "Xvfb did not start" >&2
    exit 1
  fi
  sleep 0.1
done
display=$(head -n1 "$numberfile")
if [ -z "$display" ]; then
  echo "Xvfb named no display within 20 s" >&2
  exit 1
fi

export DISPLAY=":$display"
unset XAUTHORITY
"$@" &
child=$!
trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; exit 143' TERM INT HUP
set +e
wait "$child"
rc=$?
set -e
exit "$rc"
