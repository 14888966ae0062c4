#!/usr/bin/env bash
# lumivale.exe on a desktop without the WebView2 runtime (Wine has none): the window's start-up
# fails, the launcher shows its error boxes and leaves with 1. dismiss-box.exe plays the person
# who reads and closes the boxes. Also the self-test: it fails there and says why.
# Usage: no_webview2_test.sh WINE LUMIVALE_EXE DISMISS_BOX_EXE
set -uo pipefail
wine=$1 exe=$2 dismiss=$3
if [ -z "${DISPLAY:-}" ]; then
    command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run is not installed (scripts/deps.sh test installs it): skipped"; exit 77; }
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
work=$(mktemp -d)
trap 'kill -KILL $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
wait_exit() { for _ in $(seq 600); do kill -0 "$1" 2>/dev/null || { wait "$1"; return; }; sleep 0.2; done; kill -KILL "$1"; return 124; }

echo "== the window without WebView2"
"$wine" "$exe" --home "$work/home" >"$work/launcher.log" 2>&1 & launcher=$!
"$wine" "$dismiss" 2 "$work/boxes.txt"; dismissed=$?
wait_exit "$launcher"; code=$?
[ "$dismissed" -eq 0 ] || fail "the error boxes did not come"
[ "$code" -eq 1 ] || fail "the launcher left with $code, not 1"
grep -qF "Lumivale启动器|启动器界面初始化失败。" "$work/boxes.txt" || fail "no box about the window's start-up"
grep -qF "请检查 WebView2 运行时是否已安装。" "$work/boxes.txt" || fail "no box naming WebView2"
grep -qF "未找到 WebView2 运行库" "$work/launcher.log" || fail "the log does not say what was missing"

echo "== the self-test without WebView2"
"$wine" "$exe" --home "$work/self" --self-test >"$work/self.log" 2>&1 & self=$!
wait_exit "$self"; code=$?
[ "$code" -eq 1 ] || fail "the self-test left with $code, not 1"
grep -qF '"failure": "网页视图无法启动（WebView2 运行库缺失？）"' "$work/self/self-test.json" 2>/dev/null ||
    fail "the self-test's result does not say that the web view did not start"

[ "$failures" -eq 0 ] && { echo "all checks passed"; exit 0; }
for log in launcher self; do echo "--- $log.log"; cat "$work/$log.log"; done
echo "--- boxes.txt"; cat "$work/boxes.txt" 2>/dev/null
exit 1
