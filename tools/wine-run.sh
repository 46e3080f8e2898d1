#!/usr/bin/env bash
# Runs a Windows executable under Wine with a prefix private to the build tree.
# The prefix is created once, under a lock, so parallel test runs never race on it.
set -euo pipefail
: "${ZUB_WINEPREFIX:?set ZUB_WINEPREFIX to the build tree prefix}"
export WINEPREFIX="$ZUB_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
WINE=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINE" wineboot --init >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$WINE" "$@"
