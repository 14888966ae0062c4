#!/usr/bin/env bash
# Builds the download benchmark and runs it: RunParallel(64) + DownloadFile against
# `curl --parallel --parallel-max 64` on the same loopback server, 5000 files of 4 KiB and 100 of
# 4 MiB, written to disk (the temporary folder) and, when /dev/shm exists, to memory, where the
# clients rather than the file system set the pace. Extra arguments go to both runs
# (see bench/BenchDownloads.cpp), e.g. scripts/bench.sh --rounds 3. BUILD_DIR picks another
# build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja
fi
cmake --build "$build" --target lumivale_bench_downloads
bench=$build/bin/lumivale_bench_downloads

echo "== files on disk (${TMPDIR:-/tmp})"
"$bench" "$@"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  folder=$(mktemp -d /dev/shm/lumivale-bench.XXXXXX)
  trap 'rm -rf "$folder"' EXIT
  echo "== files in memory ($folder)"
  "$bench" --folder "$folder" "$@"
fi
