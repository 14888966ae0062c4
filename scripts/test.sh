#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh
ctest --test-dir build --output-on-failure --parallel 2 --timeout 300
# The UI page in Chromium against the launcher just built (playwright-core from package-lock.json).
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund
node --test tests/ui/
