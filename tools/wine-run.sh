#!/usr/bin/env bash
# Runs a Windows executable under Wine with a prefix private to the build tree.
# The prefix is created once, under a lock, so parallel test runs never race on it.
set -euo pipefail
: "${ZUB_WINEPREFIX:?set ZUB_WINEPREFIX to the build tree prefix}"
export WINEPREFIX="$ZUB_WINEPREFIX"
# Quiet, but for the loader's errors: a process that dies as it starts
# (0xC0000142) then names the DLL whose initialisation failed.
export WINEDEBUG="${ZUB_WINEDEBUG:--all,err+module}"  # e.g. ZUB_WINEDEBUG=+loaddll to find a crash
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# Wine maps Windows file names to Unix ones through the locale's charset: under
# the C locale (a bare shell, a container) a name like "my project é 名" cannot
# be made or found.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  export LC_ALL=C.UTF-8
fi
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
# Start the prefix's server and session services detached from our caller's
# pipes: otherwise the first test's process starts them, they inherit its
# output pipe, and ctest waits on that test until the session ends. A new
# server lingers 20 s after its last client, then ends with its services.
if /usr/lib/wine/wineserver -p20 </dev/null >/dev/null 2>&1; then
  "$WINE" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
fi
exec "$WINE" "$@"
