#!/usr/bin/env bash
# Starts the real program under Xvfb, waits for its window, closes it as a
# window manager would and checks the settings file it leaves beside itself.
set -euo pipefail
BIN="$1"
XWIN="$2"
TITLE="Calorix v3.0 - Норвик"

if [ -z "${CALORIX_SMOKE_INNER:-}" ]; then
  export CALORIX_SMOKE_INNER=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$BIN" "$work/calorix"
unset QT_QPA_PLATFORM
"$work/calorix" > "$work/out.log" 2>&1 &
pid=$!

found=0
for _ in $(seq 1 300); do
  if "$XWIN" find "$TITLE"; then found=1; break; fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ "$found" != 1 ]; then
  echo "FAIL: the window \"$TITLE\" did not appear"; cat "$work/out.log"; kill "$pid" 2>/dev/null; exit 1
fi

"$XWIN" close "$TITLE"
status=0
for _ in $(seq 1 300); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "FAIL: the program did not close on the close request"; kill -9 "$pid"; exit 1
fi
wait "$pid" || status=$?
if [ "$status" != 0 ]; then echo "FAIL: exit status $status"; cat "$work/out.log"; exit 1; fi

ini="$work/Calorix.ini"
[ -f "$ini" ] || { echo "FAIL: no Calorix.ini beside the executable"; exit 1; }
for key in maximized width height left top RAxis Frame MaxY PollTime; do
  grep -q "^$key=" "$ini" || { echo "FAIL: $key missing from Calorix.ini"; cat "$ini"; exit 1; }
done
grep -q '^\[MainFrm\]' "$ini" && grep -q '^\[Chart\]' "$ini" || { echo "FAIL: sections"; cat "$ini"; exit 1; }
if grep -qi '^\[usb\]' "$ini"; then echo "FAIL: the usb section must not be written"; exit 1; fi
echo "1 passed, 0 failed"
