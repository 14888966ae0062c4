#!/usr/bin/env bash
# Builds the benchmarks and runs them (never part of the tests).
#
#   scripts/bench.sh                     every benchmark with its defaults
#   scripts/bench.sh downloads [ARGS]    the download benchmark (see bench/BenchDownloads.cpp)
#   scripts/bench.sh backend [ARGS]      the backend load benchmark (see bench/BenchBackend.cpp)
#   scripts/bench.sh install [ARGS]      the version install benchmark (see bench/BenchInstall.cpp)
#   scripts/bench.sh --rounds 3          arguments alone go to the download benchmark
#
# Downloads: RunParallel(64) + DownloadFile against `curl --parallel --parallel-max 64` on the
# same loopback server, 5000 files of 4 KiB and 100 of 4 MiB, written to disk (the temporary
# folder) and, when /dev/shm exists, to memory, where the clients rather than the file system set
# the pace. Backend: 64 clients of signed uploads against SQLite (one backend), then against a
# throw-away PostgreSQL cluster (scripts/scratch-postgres.sh, flushing to disk like a real one)
# behind two backends, then pings beside 64 slow clients. Install: a whole version (3500 asset
# objects, 45 libraries, a 20 MiB client) installed from a loopback mirror, beside curl fetching
# the same files from it, on disk and, when /dev/shm exists, in memory.
# BUILD_DIR picks another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
which=all
case "${1:-}" in
  downloads|backend|install) which=$1; shift ;;
  -*) which=downloads ;;
esac
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja
fi

# Runs the benchmark `$1` with the other arguments on disk, then in memory when /dev/shm exists.
on_disk_and_in_memory() {
  local bench=$1
  shift
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

downloads() {
  cmake --build "$build" --target lumivale_bench_downloads
  on_disk_and_in_memory "$build/bin/lumivale_bench_downloads" "$@"
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

install() {
  cmake --build "$build" --target lumivale_bench_install
  echo "== version install"
  on_disk_and_in_memory "$build/bin/lumivale_bench_install" "$@"
}

case "$which" in
  downloads) downloads "$@" ;;
  backend) backend "$@" ;;
  install) install "$@" ;;
  all) downloads; backend; install ;;
esac
