#!/usr/bin/env bash
# Runs the Windows build's lumivale.exe under Wine in place of the Linux launcher, for the
# integration tests (LUMIVALE_TEST_LAUNCHER). Linux paths in the arguments work as they are (Wine
# reads "/tmp/x" as Z:\tmp\x). The per-user data folder the tests name (XDG_DATA_HOME) becomes
# LOCALAPPDATA, where the Windows build keeps orlu.json; with-env.exe sets it, because Wine
# would put its own prefix's folder there.
set -euo pipefail
settings=()
if [ -n "${XDG_DATA_HOME:-}" ]; then settings+=("LOCALAPPDATA=Z:${XDG_DATA_HOME//\//\\}"); fi
exec "${WINE:-/usr/lib/wine/wine64}" "$LUMIVALE_WITH_ENV" "${settings[@]}" -- "$LUMIVALE_WINDOWS_EXE" "$@"
