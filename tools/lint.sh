#!/usr/bin/env bash
# Static analysis of the project's own sources: clang-tidy (checks in .clang-tidy) and
# cppcheck (suppressions in tools/cppcheck-suppressions.txt). Prints every finding and
# exits non-zero when there is any.
#
# The portable code and the unit tests are analysed as the host build compiles them; the
# Win32-only files (the backend, the production main, tests/win32, tests/e2e, tests/realworld)
# as the mingw build compiles them, with clang-tidy targeting x86_64-w64-mingw32. Both builds are only
# configured (for their compile_commands.json), never built, under build/lint/.
#
# Usage: tools/lint.sh            LINT_JOBS=N to change the parallelism (default 2).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tools/install-deps.sh || exit 1

jobs=${LINT_JOBS:-2}
out=build/lint
mkdir -p "$out"
start=$SECONDS

echo "==== lint: configure (compile commands only)"
for preset in host mingw; do
  if ! cmake --preset "$preset" -B "$out/$preset" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
       >"$out/$preset-configure.log" 2>&1; then
    cat "$out/$preset-configure.log"
    echo "lint: configuring $preset failed" >&2
    exit 1
  fi
done

# What each build contributes. Fuzz targets and benchmarks are not part of this set.
files_of() {  # compile_commands.json, extended regex over paths relative to the root
  python3 - "$1" "$2" "$root" <<'EOF'
import json, re, sys
db, pattern, root = sys.argv[1], re.compile(sys.argv[2]), sys.argv[3] + "/"
for entry in json.load(open(db)):
    path = entry["file"]
    if path.startswith(root) and pattern.fullmatch(path[len(root):]):
        print(path[len(root):])
EOF
}
win32_only='src/platform/win32_[^/]*\.cpp|src/helper_appcontainer/main\.cpp|tests/(win32|e2e|realworld)/[^/]*\.cpp'
mapfile -t host_files < <(files_of "$out/host/compile_commands.json" '(src/.*|tests/unit/[^/]*)\.cpp')
mapfile -t win_files < <(files_of "$out/mingw/compile_commands.json" "$win32_only")
if [ ${#host_files[@]} -eq 0 ] || [ ${#win_files[@]} -eq 0 ]; then
  echo "lint: no sources found in the compile commands" >&2
  exit 1
fi

# clang is not the compiler of either build: it does not know g++'s -Wno-restrict, and it
# cannot find mingw's libstdc++ (its directory, 12-posix, carries no plain version number),
# so that is named the way the cross compiler itself reports it.
mingw_cxx=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[0]["command"].split()[0])' \
            "$out/mingw/compile_commands.json")
win_args=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-nostdinc++)
while read -r dir; do
  win_args+=("--extra-arg=-isystem$dir")
done < <(echo | "$mingw_cxx" -xc++ -E -v - 2>&1 | sed -n 's/^ \(.*\/include\/c++.*\)$/\1/p')
if [ ${#win_args[@]} -eq 2 ]; then
  echo "lint: cannot find the C++ headers of $mingw_cxx" >&2
  exit 1
fi

echo "==== lint: clang-tidy, ${#host_files[@]} host and ${#win_files[@]} Win32 files (-j$jobs)"
export LINT_OUT=$out LINT_WIN_ARGS="${win_args[*]}"
rm -rf "$out/clang-tidy" && mkdir -p "$out/clang-tidy"
{
  for f in "${host_files[@]}"; do printf 'host %s\n' "$f"; done
  for f in "${win_files[@]}"; do printf 'mingw %s\n' "$f"; done
} | xargs -P "$jobs" -L 1 bash -c '
  build=$1 file=$2
  extra=(--extra-arg=-Wno-unknown-warning-option)
  [ "$build" = mingw ] && read -r -a win <<<"$LINT_WIN_ARGS" && extra+=("${win[@]}")
  log=$LINT_OUT/clang-tidy/${file//\//_}.log
  clang-tidy -p "$LINT_OUT/$build" --quiet "${extra[@]}" "$file" >"$log" 2>&1 && rm -f "$log"
  exit 0
' lint
tidy_failed=0
for log in "$out"/clang-tidy/*.log; do
  [ -e "$log" ] || continue
  tidy_failed=1
  grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log"
done

# cppcheck: the portable code as it is on the host, the Win32-only files as on Win64.
echo "==== lint: cppcheck"
cppcheck_common=(-q --std=c++20 --language=c++ --enable=warning,style,performance,portability
                 --error-exitcode=1 --inline-suppr --library=googletest -j "$jobs"
                 --suppressions-list=tools/cppcheck-suppressions.txt
                 --template='{file}:{line}:{column}: {severity}: {message} [{id}]'
                 -I src -I tests -I tests/unit -I tests/win32 -I tests/e2e)
cppcheck_failed=0
cppcheck "${cppcheck_common[@]}" --platform=unix64 "${host_files[@]}" || cppcheck_failed=1
cppcheck "${cppcheck_common[@]}" --platform=win64 --library=windows \
  -D_WIN32 -D_WIN64 -D__MINGW32__ -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX \
  "${win_files[@]}" || cppcheck_failed=1

echo "==== lint: done in $((SECONDS - start)) s"
status=0
if [ $tidy_failed -ne 0 ]; then echo "clang-tidy: FINDINGS"; status=1; else echo "clang-tidy: clean"; fi
if [ $cppcheck_failed -ne 0 ]; then echo "cppcheck: FINDINGS"; status=1; else echo "cppcheck: clean"; fi
exit $status
