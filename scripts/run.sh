#!/usr/bin/env bash
# Builds the launcher and runs it. Arguments go to the launcher (for example --home DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
scripts/build.sh
exec build/bin/lumivale "$@"
