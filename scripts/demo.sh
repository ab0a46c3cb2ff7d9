#!/usr/bin/env bash
# The main job for a newcomer: set up, build, start the program under Wine on a private
# display and prefix, wait until it is ready, and leave a screenshot of its main window.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
B=${TOVIK_BUILD_DIR:-$top/build}
DEPS=$(bash scripts/setup.sh | tail -n 1)
cmake -S . -B "$B/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTOVIK_DEPS_DIR="$DEPS" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$B/win" TovikSkypeRecorder wintool runtime_dlls >/dev/null
python3 tests/wine/demo.py --bin "$B/win/bin" --work "$B/demo"
