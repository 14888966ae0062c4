#!/usr/bin/env bash
# A throw-away PostgreSQL server for the backend's tests and benchmark: a fresh cluster in a folder
# of its own, reached through a Unix socket in that folder (no TCP port), no passwords, and no
# flushes to disk unless PG_FSYNC=on (the benchmark's setting, so that it compares like with like).
#
#   scripts/scratch-postgres.sh start DIR [OWNER_PID]   prints the connection address
#   scripts/scratch-postgres.sh stop DIR                stops the server and removes DIR
#
# DIR must not exist yet; keep it short (a Unix socket path has at most 107 bytes), e.g. under /tmp.
# PostgreSQL refuses to run as root, so as root the server runs as "nobody" (PG_USER picks another
# unprivileged account). With OWNER_PID the server stops by itself once that process has ended, so
# a test run that crashed leaves nothing running. PG_BIN picks another server version's programs.
set -euo pipefail
bin=${PG_BIN:-/usr/lib/postgresql/15/bin}
action=${1:-}
dir=${2:-}
if [ -z "$dir" ] || { [ "$action" != start ] && [ "$action" != stop ]; }; then
  echo "usage: $0 start DIR [OWNER_PID] | stop DIR" >&2
  exit 2
fi
self=$(readlink -f "$0")
dir=$(realpath -m "$dir")
cd /  # the unprivileged account may not enter the caller's folder

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "${PG_USER:-nobody}" -- "$@"
  else
    "$@"
  fi
}

if [ "$action" = stop ]; then
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  exit 0
fi

if [ ! -x "$bin/initdb" ]; then
  echo "PostgreSQL's programs are missing in $bin (Debian package postgresql)" >&2
  exit 1
fi
mkdir "$dir"
if [ "$(id -u)" -eq 0 ]; then
  chown "${PG_USER:-nobody}" "$dir"
fi
if ! as_owner "$bin/initdb" -D "$dir/data" -U lumivale -A trust -E UTF8 --no-sync >"$dir/initdb.log" 2>&1; then
  cat "$dir/initdb.log" >&2
  exit 1
fi
options="-k $dir -c listen_addresses="
if [ "${PG_FSYNC:-off}" != on ]; then
  options="$options -F -c full_page_writes=off"
fi
if ! as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -s -o "$options" start; then
  cat "$dir/server.log" >&2
  exit 1
fi
if [ -n "${3:-}" ]; then
  owner=$3
  # Watches the owner with no tie to the caller's output, so that the caller's read of the address ends.
  nohup setsid bash -c 'while kill -0 "$1" 2>/dev/null; do sleep 1; done; exec "$2" stop "$3"' \
    watch "$owner" "$self" "$dir" </dev/null >/dev/null 2>&1 &
fi
echo "postgresql:///postgres?host=$dir&user=lumivale"
