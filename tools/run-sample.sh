#!/usr/bin/env bash
# The main job on a fresh machine: builds the Windows executables and runs one
# sandboxed launch under Wine, showing the child's output and the helper's exit status.
#
# Wine has no AppContainer, so this uses zub-sandbox-helper-winetest.exe: the same
# program with a stand-in for the three AppContainer calls that Wine lacks. On
# Windows the production zub-sandbox-helper.exe is used.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target zub-sandbox-helper zub-sandbox-helper-winetest >/dev/null

build="$PWD/build/mingw"
sample="$build/sample-package"
mkdir -p "$sample/lib" && echo 'console.log("hi")' >"$sample/lib/index.js"
export ZUB_WINEPREFIX="$build/wineprefix"

args=(--protocol-version 1 --appcontainer-name zub.sample
      --readable-dir 'Z:'"${sample//\//\\}"
      --env ZUB_SAMPLE=granted --working-dir 'Z:'"${sample//\//\\}"
      --stdio-stdin null --stdio-stdout inherit --stdio-stderr inherit
      -- 'C:\windows\system32\cmd.exe' /c 'echo hello from the sandbox& set ZUB_SAMPLE& cd& exit 3')

echo "\$ zub-sandbox-helper-winetest.exe ${args[*]}"
set +e
tools/wine-run.sh "$build/zub-sandbox-helper-winetest.exe" "${args[@]}"
status=$?
set -e
echo "helper exit status: $status (the child's own exit code; Wine shows its low 8 bits to Linux)"
WINEPREFIX="$ZUB_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true
[ "$status" -eq 3 ]
