#!/usr/bin/env bash
# Builds the benchmark programs in Release and runs them: the native ones directly, the
# Windows ones (real loopback sockets) under Wine in a private prefix. Prints their
# figures; asserts nothing. Optional argument: a name filter (e.g. "history").
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
B=${TOVIK_BUILD_DIR:-$top/build}
filter=${1:-}
DEPS=$(bash scripts/setup.sh | tail -n 1)

cmake -S . -B "$B/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVIK_BENCH=ON >/dev/null
ninja -C "$B/bench" >/dev/null
for exe in "$B"/bench/bin/bench_*; do
  name=$(basename "$exe")
  [ -z "$filter" ] || [[ "$name" == *"$filter"* ]] || continue
  echo "== $name"
  "$exe"
done

cmake -S . -B "$B/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTOVIK_DEPS_DIR="$DEPS" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
shopt -s nullglob
win_benches=(bench/win32/*.cpp)
[ ${#win_benches[@]} -gt 0 ] || exit 0
ninja -C "$B/win" runtime_dlls $(for f in "${win_benches[@]}"; do basename "$f" .cpp; done) >/dev/null
work=$(mktemp -d /tmp/tovik-bench.XXXXXX)
export WINEPREFIX=$work/prefix HOME=$work/home WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$HOME"
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
wineserver -w
for f in "${win_benches[@]}"; do
  name=$(basename "$f" .cpp)
  [ -z "$filter" ] || [[ "$name" == *"$filter"* ]] || continue
  echo "== $name (under Wine)"
  wine "$B/win/bin/$name.exe"
done
