#!/usr/bin/env bash
# Builds the benchmarks and runs them (never part of the tests).
#
#   scripts/bench.sh                     both benchmarks with their defaults
#   scripts/bench.sh downloads [ARGS]    the download benchmark (see bench/BenchDownloads.cpp)
#   scripts/bench.sh backend [ARGS]      the backend load benchmark (see bench/BenchBackend.cpp)
#   scripts/bench.sh --rounds 3          arguments alone go to the download benchmark
#
# Downloads: RunParallel(64) + DownloadFile against `curl --parallel --parallel-max 64` on the
# same loopback server, 5000 files of 4 KiB and 100 of 4 MiB, written to disk (the temporary
# folder) and, when /dev/shm exists, to memory, where the clients rather than the file system set
# the pace. Backend: 64 clients of signed uploads against SQLite (one backend), then against a
# throw-away PostgreSQL cluster (scripts/scratch-postgres.sh, flushing to disk like a real one)
# behind two backends, then pings beside 64 slow clients.
# BUILD_DIR picks another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
which=both
case "${1:-}" in
  downloads|backend) which=$1; shift ;;
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

backend() {
  cmake --build "$build" --target lumivale_bench_backend
  cluster=/tmp/lumivale-bench-pg-$$  # global: the exit trap reads it
  local address
  address=$(PG_FSYNC=on scripts/scratch-postgres.sh start "$cluster" $$)
  trap 'scripts/scratch-postgres.sh stop "$cluster"' EXIT
  echo "== backend load (SQLite file in ${TMPDIR:-/tmp}, PostgreSQL 15 in $cluster)"
  "$build/bin/lumivale_bench_backend" --postgres "$address" "$@"
}

case "$which" in
  downloads) downloads "$@" ;;
  backend) backend "$@" ;;
  both) downloads; backend ;;
esac
