#!/usr/bin/env bash
# Builds the benchmarks and runs them (never part of the tests).
#
#   scripts/bench.sh                     both benchmarks with their defaults
#   scripts/bench.sh downloads [ARGS]    the download benchmark (see bench/BenchDownloads.cpp)
#   scripts/bench.sh install [ARGS]      the version install benchmark (see bench/BenchInstall.cpp)
#   scripts/bench.sh --rounds 3          arguments alone go to the download benchmark
#
# Downloads: RunParallel(64) + DownloadFile against `curl --parallel --parallel-max 64` on the
# same loopback server, 5000 files of 4 KiB and 100 of 4 MiB, written to disk (the temporary
# folder) and, when /dev/shm exists, to memory, where the clients rather than the file system set
# the pace. Install: a whole version (3500 asset objects, 45 libraries, a 20 MiB client) installed
# from a loopback mirror, beside curl fetching the same files from it.
# BUILD_DIR picks another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
which=both
case "${1:-}" in
  downloads|install) which=$1; shift ;;
  -*) which=downloads ;;
esac
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja
fi

downloads() {
  cmake --build "$build" --target lumivale_bench_downloads
  local bench=$build/bin/lumivale_bench_downloads
  echo "== files on disk (${TMPDIR:-/tmp})"
  "$bench" "$@"
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    local folder
    folder=$(mktemp -d /dev/shm/lumivale-bench.XXXXXX)
    echo "== files in memory ($folder)"
    "$bench" --folder "$folder" "$@" || { rm -rf "$folder"; return 1; }
    rm -rf "$folder"
  fi
}

install() {
  cmake --build "$build" --target lumivale_bench_install
  echo "== version install (game folder in ${TMPDIR:-/tmp})"
  "$build/bin/lumivale_bench_install" "$@"
}

case "$which" in
  downloads) downloads "$@" ;;
  install) install "$@" ;;
  both) downloads; install ;;
esac
