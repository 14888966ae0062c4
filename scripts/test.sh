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
# The server needs the prefix folder to exist (on a fresh clone wineboot fills it below).
mkdir -p "$WINEPREFIX"
setsid "$wine_server" -p </dev/null >/dev/null 2>&1 &
trap '"$wine_server" -k >/dev/null 2>&1 || true' EXIT
[ -d "$WINEPREFIX/drive_c" ] || /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
# One program first, alone: the server's first client starts Wine's own services, and two test
# programs racing to be that client (the build lists both test programs at once) can hang.
/usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 || true
scripts/build-windows.sh
ctest --test-dir build-win --output-on-failure --parallel 2 --timeout 300
