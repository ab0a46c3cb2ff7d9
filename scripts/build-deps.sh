#!/usr/bin/env bash
# Builds the Windows (mingw-w64) copies of the libraries the program links, from Debian's
# own source packages, into a cache outside the work tree keyed by the package versions.
# Prints nothing but the cache path on a hit, so a second run takes a moment.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
HOST=x86_64-w64-mingw32
CACHE_ROOT=${TOVIK_DEPS_CACHE:-/var/cache/tovik-deps}

ver() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo none; }
# The binary -dev packages come from the source packages we build, so their versions key the cache.
key=$( { echo "lame $(ver libmp3lame-dev)"; echo "samplerate $(ver libsamplerate0-dev)";
         echo "sqlite3 $(ver libsqlite3-dev)"; echo "pugixml $(ver libpugixml-dev)";
         echo "googletest $(ver googletest)"; echo "gcc $(ver g++-mingw-w64-x86-64-posix)";
         cat "$0"; } | sha256sum | cut -c1-16)
PREFIX=$CACHE_ROOT/$key
if [ -f "$PREFIX/.complete" ]; then
  echo "$PREFIX"
  exit 0
fi

enable_sources() {
  # deb-src entries copied from the machine's own entries with the type changed.
  local changed=0 f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case "$f" in *-tovik-src.sources) continue ;; esac
    grep -q '^Types:.*\bdeb\b' "$f" || continue
    local out=${f%.sources}-tovik-src.sources
    [ -f "$out" ] && continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" > "$out"
    changed=1
  done
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    local out=/etc/apt/sources.list.d/tovik-src.list
    if [ ! -f "$out" ]; then
      grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "$out"
      changed=1
    fi
  fi
  if [ $changed = 1 ] || ! apt-cache showsrc lame 2>/dev/null | grep -q '^Version'; then
    apt-get update -qq
  fi
}

echo "build-deps: building the Windows libraries into $PREFIX" >&2
enable_sources
WORK=$(mktemp -d /tmp/tovik-deps.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
STAGE=$WORK/prefix
mkdir -p "$STAGE"/{bin,lib,include}
TOOLCHAIN=$(cd "$here/.." && pwd)/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc)

fetch() {  # fetch <source package> <binary package whose version to match>
  local v; v=$(ver "$2")
  (cd "$WORK" && apt-get source -qq --download-only "$1=$v" >/dev/null 2>&1 || apt-get source -qq --download-only "$1" >/dev/null)
  (cd "$WORK" && dpkg-source -x --skip-patches "$(ls "$WORK"/"$1"_*.dsc | head -n1)" "$WORK/src-$1" >/dev/null 2>&1 \
    || dpkg-source -x "$(ls "$WORK"/"$1"_*.dsc | head -n1)" "$WORK/src-$1" >/dev/null)
}

# LAME as a DLL. Its export list names lame_init_old, which this build does not define.
fetch lame libmp3lame-dev
(
  cd "$WORK/src-lame"
  sed -i '/^lame_init_old$/d' include/libmp3lame.sym
  ./configure -q --host=$HOST --prefix="$STAGE" --enable-shared --disable-static \
    --disable-frontend --disable-gtktest --disable-analyzer-hooks >/dev/null
  make -s -j"$jobs" >/dev/null 2>&1 || make -j"$jobs"
  make -s install >/dev/null
)

# libsamplerate, static.
fetch libsamplerate libsamplerate0-dev
cmake -S "$WORK/src-libsamplerate" -B "$WORK/b-sr" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DLIBSAMPLERATE_EXAMPLES=OFF \
  -DLIBSAMPLERATE_INSTALL=ON -DCMAKE_INSTALL_PREFIX="$STAGE" >/dev/null
ninja -C "$WORK/b-sr" install >/dev/null

# pugixml, static.
fetch pugixml libpugixml-dev
cmake -S "$WORK/src-pugixml" -B "$WORK/b-px" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX="$STAGE" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
ninja -C "$WORK/b-px" install >/dev/null

# SQLite: the amalgamation is generated from the source tree (needs tclsh), then cross-compiled.
fetch sqlite3 libsqlite3-dev
(
  cd "$WORK/src-sqlite3"
  mkdir -p native && cd native
  ../configure -q >/dev/null 2>&1
  make -s sqlite3.c >/dev/null 2>&1
  $HOST-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -c sqlite3.c -o sqlite3.o
  $HOST-ar rcs "$STAGE/lib/libsqlite3.a" sqlite3.o
  cp sqlite3.h "$STAGE/include/"
  cp ../src/sqlite3ext.h "$STAGE/include/" 2>/dev/null || true
)

# GoogleTest and GoogleMock, static, from the source Debian installs under /usr/src.
cmake -S /usr/src/googletest -B "$WORK/b-gt" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -Dgtest_disable_pthreads=OFF \
  -DCMAKE_INSTALL_PREFIX="$STAGE" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
ninja -C "$WORK/b-gt" install >/dev/null

mkdir -p "$CACHE_ROOT"
rm -rf "$PREFIX"
mv "$STAGE" "$PREFIX"
touch "$PREFIX/.complete"
echo "$PREFIX"
