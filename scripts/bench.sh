#!/usr/bin/env bash
# Download benchmark: the engine's batch (DownloadFiles, 64 transfers) against
# `curl --parallel --parallel-max 64`, both fetching the same files in the same run, first from
# nginx (Debian's nginx-light, started here on a free loopback port with a configuration written
# into a temporary folder, stopped at the end), then from the benchmark's own loopback server.
# For each: 5000 files of 4 KiB and 100 of 4 MiB, files per second, MB/s, the speed ratio and the
# CPU seconds of each client. Then the start-up benchmark (bench/BenchStartup.cpp) and the
# memory of the headless launcher.
#
# Extra arguments go to every download run (see bench/BenchDownloads.cpp), e.g.
# scripts/bench.sh --rounds 5. BUILD_DIR picks another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
build=${BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja
fi
cmake --build "$build" --target lumivale_bench_downloads lumivale_bench_startup lumivale
bench=$build/bin/lumivale_bench_downloads
small_size=4096
large_size=$((4 * 1024 * 1024))

work=$(mktemp -d "${TMPDIR:-/tmp}/lumivale-bench.XXXXXX")
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Two files stand for every /small/<i> and /large/<i>.
mkdir -p "$work/www" "$work/temp" "$work/files"
head -c "$small_size" /dev/urandom >"$work/www/small.bin"
head -c "$large_size" /dev/urandom >"$work/www/large.bin"
# Workers of a master started as root run as another user, who must be able to read them.
chmod -R a+rX "$work/www"
chmod a+x "$work"

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

port=""
for _ in $(seq 1 20); do
  candidate=$((20000 + RANDOM % 40000))
  port_is_free "$candidate" || continue
  if start_nginx "$candidate"; then port=$candidate; break; fi
done
if [ -z "$port" ]; then
  echo "nginx did not start:" >&2
  cat "$work/error.log" >&2 2>/dev/null || true
  exit 1
fi

echo "== nginx $(/usr/sbin/nginx -v 2>&1 | sed 's/.*nginx\///'), files on disk ($work/files)"
"$bench" --server "http://127.0.0.1:$port" --name "nginx on 127.0.0.1:$port" \
  --small-size "$small_size" --large-size "$large_size" --small-file "$work/www/small.bin" \
  --large-file "$work/www/large.bin" --folder "$work/files" "$@"
kill "$nginx_pid"
wait "$nginx_pid" 2>/dev/null || true
nginx_pid=""

echo
echo "== the benchmark's own loopback server, files on disk ($work/files)"
"$bench" --small-size "$small_size" --large-size "$large_size" --folder "$work/files" "$@"

echo
echo "== start-up and memory"
# The window's memory on a private X server of its own, when one can be started.
display=""
xvfb_pid=""
for number in $(seq 90 120); do
  [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] && continue
  Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
  if kill -0 "$xvfb_pid" 2>/dev/null; then display=":$number"; break; fi
  xvfb_pid=""
done
"$build/bin/lumivale_bench_startup" "$build/bin/lumivale" ${display:+--display "$display"}
if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid"; wait "$xvfb_pid" 2>/dev/null || true; fi
