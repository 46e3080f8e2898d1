#!/usr/bin/env bash
# Counts the Wine server requests of a grant walk per object, for the helper and
# for zub-bench-grant-floor: each runs once on a tree of 10 directories of 19
# files (200 objects below the root) and once on an empty directory, under a
# wineserver started with request tracing; the difference, by request, over
# 200 is what one object costs. Only the requests of the walking thread are
# counted, and of those only the kinds a walk makes: the prefix's services,
# which the restarted server starts again, add requests of their own.
# Usage: bench/wine_requests.sh [BUILD_DIR]   (default build/mingw)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/mingw}
export ZUB_WINEPREFIX="$PWD/$build/wineprefix" WINEPREFIX="$PWD/$build/wineprefix"
drive="$WINEPREFIX/drive_c/zub-requests"
rm -rf "$drive" && mkdir -p "$drive/empty"
for d in $(seq 1 10); do
  mkdir -p "$drive/tree/d$d"
  for f in $(seq 1 19); do echo x >"$drive/tree/d$d/f$f.txt"; done
done
tools/wine-run.sh cmd.exe /c exit 0 >/dev/null 2>&1  # the prefix exists, its services run
out=$(mktemp -d)
trap 'rm -rf "$out" "$drive"' EXIT

# One traced run: request names, calls only (not replies), counted.
traced() {
  local name=$1; shift
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -f -d1 2>"$out/$name.log" &
  local server=$!
  sleep 1
  tools/wine-run.sh "$@" >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  wait "$server" || true
  # Only the walking thread's requests (the one that reads and writes security
  # most): the prefix's services, restarted with the server, make requests of
  # their own at their own times, which made the per-object totals vary by up
  # to 0.8 from run to run.
  python3 - "$out/$name.log" <<'EOF' | sort >"$out/$name.count"
import collections, re, sys
calls = [m.groups() for line in open(sys.argv[1], errors="replace")
         if (m := re.match(r"([0-9a-f]+): ([a-z_]+)\(", line)) and ") = " not in line]
security = collections.Counter(t for t, r in calls if r in ("get_security_object", "set_security_object"))
walker = security.most_common(1)[0][0]
for request, count in sorted(collections.Counter(r for t, r in calls if t == walker).items()):
    print(request, count)
EOF
}

helper=("$build/zub-sandbox-helper-winetest.exe" --protocol-version 1 --appcontainer-name zub-requests
  --stdio-stdin null --stdio-stdout null --stdio-stderr null)
traced helper-tree "${helper[@]}" --readable-dir 'C:\zub-requests\tree' -- 'C:\windows\system32\cmd.exe' /c exit 0
# The same tree again: granted before (under Wine the DACL read back never holds
# the entry, so the write stays; on Windows it would be skipped).
traced helper-again-tree "${helper[@]}" --readable-dir 'C:\zub-requests\tree' -- 'C:\windows\system32\cmd.exe' /c exit 0
traced helper-empty "${helper[@]}" --readable-dir 'C:\zub-requests\empty' -- 'C:\windows\system32\cmd.exe' /c exit 0
traced floor-tree "$build/bench/zub-bench-grant-floor.exe" 'C:\zub-requests\tree'
traced floor-empty "$build/bench/zub-bench-grant-floor.exe" 'C:\zub-requests\empty'

for side in helper helper-again floor; do
  echo "== $side: server requests per object (200 objects), largest first"
  join -a1 -a2 -e0 -o 0,1.2,2.2 "$out/$side-tree.count" "$out/${side%-again}-empty.count" |
    grep -E '^(create_file|open_file_object|close_handle|get_handle_fd|get_handle_unix_name|get_security_object|set_security_object|get_directory_cache_entry) ' |
    awk '{d = $2 - $3; printf "%6.2f %s\n", d / 200, $1; t += d}
         END { printf "%6.2f total\n", t / 200 }' | sort -rn
done
