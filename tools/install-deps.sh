#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, when run as root and something is missing.
set -euo pipefail
packages=(cmake make g++ g++-mingw-w64-x86-64-posix wine64 unicode-data libgtest-dev libgmock-dev
          libbenchmark-dev nlohmann-json3-dev python3 clang clang-tidy cppcheck libclang-rt-14-dev inotify-tools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then exit 0; fi
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages (run as root to install them): ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
