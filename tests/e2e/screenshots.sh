#!/usr/bin/env bash
# Regenerates the user guide's pictures (docs/*.png) from a real session with a
# simulated thermostat: scripts/test's build by default, or the calorix and
# xwin given.
source "$(dirname "$0")/../../scripts/lib/common.sh"
ensure_packages "${TEST_PACKAGES[@]}" imagemagick
BIN="${1:-$ROOT/build/test/calorix}"
XWIN="${2:-$(dirname "$BIN")/tests/e2e/xwin}"
if [ ! -x "$BIN" ] || [ ! -x "$XWIN" ]; then
  echo "build first (scripts/test), or give CALORIX XWIN" >&2
  exit 2
fi
LANG=ru_RU.UTF-8 ASAN_OPTIONS=detect_leaks=0 \
  /usr/bin/python3 "$ROOT/tests/e2e/session.py" "$BIN" "$XWIN" --screenshots "$ROOT/docs"
