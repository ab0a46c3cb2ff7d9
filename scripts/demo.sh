#!/usr/bin/env bash
# The main job for a newcomer: set up, build, then record a 15-second Skype call with
# echo123 end to end under Wine (the stand-in plays Skype, with a spoken sentence on each
# side) on a private display, PulseAudio server and prefix, all stopped at the end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
B=${TOVIK_BUILD_DIR:-$top/build}
DEPS=$(bash scripts/setup.sh | tail -n 1)
cmake -S . -B "$B/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTOVIK_DEPS_DIR="$DEPS" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$B/win" TovikSkypeRecorder wintool skype-sim runtime_dlls >/dev/null
python3 tests/wine/demo.py --bin "$B/win/bin" --work "$B/demo"
