#!/usr/bin/env bash
# Cross-compiles the Windows build into build-win/ with Debian's mingw-w64: build-win/bin/lumivale.exe
# (static: no DLL beside it; optimised and without debug information, which would make it
# 60 MB) and its test programs, which run under Wine with the prefix build-win/wine.
# Needs the packages of `scripts/deps.sh windows`.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEPREFIX=${WINEPREFIX:-$PWD/build-win/wine} WINEDEBUG=${WINEDEBUG:--all}
if [ ! -f build-win/build.ninja ]; then
  cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DLUMIVALE_LINUX_BUILD="$PWD/build"
fi
cmake --build build-win
