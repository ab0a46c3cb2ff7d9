#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine:
# Debian packages, then the Windows builds of the libraries we link, made with mingw-w64
# from Debian's own source packages into a cache outside the work tree.
# Idempotent and without prompts; a second run only checks and returns.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
export DEBIAN_FRONTEND=noninteractive

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"

PKGS=(
  build-essential cmake ninja-build pkg-config dpkg-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 libwine
  libxrender1 libxcursor1 libxi6 libxrandr2 libxinerama1 libxcomposite1 libxfixes3 libxxf86vm1 libgl1
  xvfb x11-utils x11-apps xdotool imagemagick
  pulseaudio pulseaudio-utils
  mpg123 libmpg123-dev sox espeak-ng
  libmp3lame-dev libsamplerate0-dev libpugixml-dev libsqlite3-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev libxml2-utils python3
)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# mingw-w64: the posix thread model gives std::thread and std::mutex.
for t in gcc g++; do
  alt=$(update-alternatives --list x86_64-w64-mingw32-$t 2>/dev/null | grep posix | head -n1 || true)
  [ -n "$alt" ] && $SUDO update-alternatives --set x86_64-w64-mingw32-$t "$alt" >/dev/null
done

exec "$here/build-deps.sh"
