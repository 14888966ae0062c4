#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build, the UI page, a short fuzzing run, then
# the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh
ctest --test-dir build --output-on-failure --parallel 2 --timeout 300
# The UI page in Chromium against the launcher just built (playwright-core from package-lock.json).
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund
node --test tests/ui/
# Every fuzz target for a few seconds from its kept corpus (clang's libFuzzer; scripts/fuzz.sh
# with more seconds fuzzes for real).
scripts/fuzz.sh 5

# The Windows build: its unit and platform tests under Wine, WinHTTP against Linux peers, and
# lumivale.exe --headless driven by the Linux integration tests. One wine server stays up for the
# whole run (without it every test program would start its own, two seconds each).
export WINEPREFIX="$PWD/build-win/wine" WINEDEBUG=-all
wine_server=/usr/lib/wine/wineserver
# One X display of its own for the whole run: Wine's desktop process stays bound to the display
# its first program had, so a window test on a display of its own would find no desktop.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 & xvfb=$!
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$display_file")"
rm -f "$display_file"
# The server needs the prefix folder to exist (on a fresh clone wineboot fills it below); one
# left from an earlier run would keep that run's display.
mkdir -p "$WINEPREFIX"
{ "$wine_server" -k && "$wine_server" -w; } >/dev/null 2>&1 || true
setsid "$wine_server" -p </dev/null >/dev/null 2>&1 &
trap '"$wine_server" -k >/dev/null 2>&1 || true; kill "$xvfb" 2>/dev/null || true' EXIT
[ -d "$WINEPREFIX/drive_c" ] || /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
# One program first, alone: the server's first client starts Wine's own services, and two test
# programs racing to be that client (the build lists both test programs at once) can hang.
/usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 || true
scripts/build-windows.sh
ctest --test-dir build-win --output-on-failure --parallel 2 --timeout 300
