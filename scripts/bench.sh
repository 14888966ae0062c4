#!/usr/bin/env bash
# Builds the benchmarks and runs them (never part of the tests).
#
#   scripts/bench.sh                     every benchmark with its defaults
#   scripts/bench.sh downloads [ARGS]    the download benchmark (see bench/BenchDownloads.cpp)
#   scripts/bench.sh startup             start-up and memory (see bench/BenchStartup.cpp)
#   scripts/bench.sh backend [ARGS]      the backend load benchmark (see bench/BenchBackend.cpp)
#   scripts/bench.sh install [ARGS]      the version install benchmark (see bench/BenchInstall.cpp)
#   scripts/bench.sh install [ARGS]      the version install benchmark (see bench/BenchInstall.cpp)
#   scripts/bench.sh --rounds 3          arguments alone go to the download benchmark
#
# Downloads: the engine's batch (DownloadFiles, 64 transfers) against
# `curl --parallel --parallel-max 64`, both fetching the same files in the same run, first from
# nginx (Debian's nginx-light, started here on a free loopback port with a configuration written
# into a temporary folder, stopped at the end), then from the benchmark's own loopback server;
# 5000 files of 4 KiB and 100 of 4 MiB, written to disk (a temporary folder) and, when /dev/shm
# exists, to memory, where the clients rather than the file system set the pace. For each: files
# per second, MB/s, the speed ratio and the CPU seconds of each client.
# Start-up: process start to the page's first answers with 50 cores and three Java runtimes, the
# headless launcher's memory, and the window's (launcher and web view processes) on a private
# X server. Backend: 64 clients of signed uploads against SQLite (one backend), then against a
# throw-away PostgreSQL cluster (scripts/scratch-postgres.sh, flushing to disk like a real one)
# behind two backends, then pings beside 64 slow clients. Install: a whole version (3500 asset
# objects, 45 libraries, a 20 MiB client) installed from a loopback mirror, beside curl fetching
# the same files from it, on disk and, when /dev/shm exists, in memory.
# BUILD_DIR picks another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
build=${BUILD_DIR:-build}
which=all
case "${1:-}" in
  downloads|startup|backend|install) which=$1; shift ;;
  -*) which=downloads ;;
esac
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja
fi

# Whatever a step started is ended on the way out, however the script ends.
work=""
nginx_pid=""
xvfb_pid=""
cluster=""
cleanup() {
  for pid in $nginx_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "$cluster" ]; then scripts/scratch-postgres.sh stop "$cluster" || true; fi
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT

port_is_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
start_nginx() {
  local port=$1
  local user=""
  [ "$(id -u)" -eq 0 ] && user="user $(id -un) $(id -gn);"
  cat >"$work/nginx.conf" <<EOF
$user
worker_processes auto;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  keepalive_timeout 30s;
  client_body_temp_path $work/temp/body;
  proxy_temp_path $work/temp/proxy;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    location /small/ { rewrite ^ /small.bin break; }
    location /large/ { rewrite ^ /large.bin break; }
  }
}
EOF
  /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" &
  nginx_pid=$!
  # Ready once it answers; gone when the port was taken after all.
  for _ in $(seq 1 50); do
    if ! kill -0 "$nginx_pid" 2>/dev/null; then nginx_pid=""; return 1; fi
    if ! port_is_free "$port"; then return 0; fi
    sleep 0.1
  done
  return 1
}

downloads() {
  cmake --build "$build" --target lumivale_bench_downloads
  local bench=$build/bin/lumivale_bench_downloads
  local small_size=4096
  local large_size=$((4 * 1024 * 1024))
  work=$(mktemp -d "${TMPDIR:-/tmp}/lumivale-bench.XXXXXX")
  # Two files stand for every /small/<i> and /large/<i>.
  mkdir -p "$work/www" "$work/temp" "$work/files"
  head -c "$small_size" /dev/urandom >"$work/www/small.bin"
  head -c "$large_size" /dev/urandom >"$work/www/large.bin"
  # Workers of a master started as root run as another user, who must be able to read them.
  chmod -R a+rX "$work/www"
  chmod a+x "$work"
  local folders=("$work/files")
  local memory=""
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    memory=$(mktemp -d /dev/shm/lumivale-bench.XXXXXX)
    folders+=("$memory")
  fi

  local port=""
  for _ in $(seq 1 20); do
    local candidate=$((20000 + RANDOM % 40000))
    port_is_free "$candidate" || continue
    if start_nginx "$candidate"; then port=$candidate; break; fi
  done
  if [ -z "$port" ]; then
    echo "nginx did not start:" >&2
    cat "$work/error.log" >&2 2>/dev/null || true
    [ -z "$memory" ] || rm -rf "$memory"
    return 1
  fi
  local folder
  for folder in "${folders[@]}"; do
    echo "== nginx $(/usr/sbin/nginx -v 2>&1 | sed 's/.*nginx\///'), files in $folder"
    "$bench" --server "http://127.0.0.1:$port" --name "nginx on 127.0.0.1:$port" \
      --small-size "$small_size" --large-size "$large_size" --small-file "$work/www/small.bin" \
      --large-file "$work/www/large.bin" --folder "$folder" "$@"
    echo
  done
  kill "$nginx_pid"
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=""

  for folder in "${folders[@]}"; do
    echo "== the benchmark's own loopback server, files in $folder"
    "$bench" --small-size "$small_size" --large-size "$large_size" --folder "$folder" "$@"
    echo
  done
  [ -z "$memory" ] || rm -rf "$memory"
}

startup() {
  cmake --build "$build" --target lumivale_bench_startup lumivale
  echo "== start-up and memory"
  # The window's memory on a private X server of its own, when one can be started.
  local display=""
  local number
  for number in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] && continue
    Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
    if kill -0 "$xvfb_pid" 2>/dev/null; then display=":$number"; break; fi
    xvfb_pid=""
  done
  "$build/bin/lumivale_bench_startup" "$build/bin/lumivale" ${display:+--display "$display"}
}

backend() {
  cmake --build "$build" --target lumivale_bench_backend
  cluster=/tmp/lumivale-bench-pg-$$
  local address
  address=$(PG_FSYNC=on scripts/scratch-postgres.sh start "$cluster" $$)
  echo "== backend load (SQLite file in ${TMPDIR:-/tmp}, PostgreSQL 15 in $cluster)"
  "$build/bin/lumivale_bench_backend" --postgres "$address" "$@"
}

install() {
  cmake --build "$build" --target lumivale_bench_install
  echo "== version install, files on disk (${TMPDIR:-/tmp})"
  "$build/bin/lumivale_bench_install" "$@"
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    local folder
    folder=$(mktemp -d /dev/shm/lumivale-bench.XXXXXX)
    echo "== version install, files in memory ($folder)"
    "$build/bin/lumivale_bench_install" --folder "$folder" "$@" || { rm -rf "$folder"; return 1; }
    rm -rf "$folder"
  fi
}

case "$which" in
  downloads) downloads "$@" ;;
  startup) startup ;;
  backend) backend "$@" ;;
  install) install "$@" ;;
  all) downloads; echo; startup; echo; backend; echo; install ;;
esac
