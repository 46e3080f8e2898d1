#!/usr/bin/env bash
# The one test command: installs what is missing, builds the host, host-asan and
# mingw presets and runs every suite through ctest (the Windows build under Wine).
# Prints ctest's summaries; exits non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh || exit 1

mkdir -p build
status=0
summaries=()
for preset in host host-asan mingw; do
  echo "==== $preset: configure and build"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; } >"build/$preset.log" 2>&1; then
    tail -n 40 "build/$preset.log"
    summaries+=("$preset: BUILD FAILED")
    status=1
    continue
  fi
  echo "==== $preset: test"
  out=$(ctest --preset "$preset" 2>&1)
  rc=$?
  echo "$out" | grep -E -A30 '(tests passed|tests failed)' 
  summaries+=("$preset: $(echo "$out" | grep -E 'tests passed|tests failed' | tail -n 1)")
  [ $rc -eq 0 ] || status=1
done


# The Wine prefix's server outlives the tests otherwise.
if [ -d build/mingw/wineprefix ]; then
  WINEPREFIX="$PWD/build/mingw/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
fi

echo "==== summary"
printf '%s\n' "${summaries[@]}"
exit $status
