#!/usr/bin/env bash
# The real window under Xvfb: the page on screen (screenshot kept), a second start waking the first, a polite
# SIGTERM, page and launcher talking through window.chrome.webview (bridge_page.html), a file dragged
# onto the window by another program (DRAG_SOURCE), the self-test, and no display.
# Usage: window_test.sh LUMIVALE_EXE ARTIFACT_DIR BRIDGE_PAGE SOURCE_DIR DRAG_SOURCE
set -uo pipefail
exe=$1 artifacts=$2 bridge_page=$3 source_dir=$4 drag_source=$5

if [ -z "${LUMIVALE_UNDER_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run is not installed (scripts/deps.sh test installs it): skipped"; exit 77; }
    exec env LUMIVALE_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

work=$(mktemp -d)
mkdir -p "$artifacts" "$work/tmp"
export XDG_DATA_HOME="$work/data" TMPDIR="$work/tmp"
trap 'kill -KILL $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Both wait (a hang guard, not a time measurement): for TEXT in a log, and for PID to end (its code; 124 when killed).
wait_for_line() { for _ in $(seq 600); do grep -qF "$2" "$work/$1.log" && return 0; sleep 0.2; done; return 1; }
wait_exit() { for _ in $(seq 600); do kill -0 "$1" 2>/dev/null || { wait "$1"; return; }; sleep 0.2; done; kill -KILL "$1"; return 124; }
colours() { convert "$1" -format "%k" info:; }
black_share() { convert "$1" -fill white +opaque black -format "%[fx:1-mean]" info:; }

echo "== the page in the window"
shot="$artifacts/lumivale-window.png"
"$exe" --home "$work/home" >"$work/first.log" 2>&1 & first=$!
wait_for_line first "WebView: 页面加载完成" || fail "the page never finished loading"
# The page paints after its load: look again until the screen shows it (many colours, little black).
shown=no
for _ in $(seq 50); do
    import -window root "$shot"
    [ "$(colours "$shot")" -ge 64 ] && awk -v b="$(black_share "$shot")" 'BEGIN { exit !(b < 0.05) }' && { shown=yes; break; }
    sleep 0.2
done
echo "screenshot: $shot ($(colours "$shot") colours, black share $(black_share "$shot"))"
[ "$shown" = yes ] || fail "the screenshot is not the page (blank, an error box or no window)"

echo "== a second start on the same home, then a polite end"
"$exe" --home "$work/home" >"$work/second.log" 2>&1 &
wait_exit $!; code=$?
[ "$code" -eq 0 ] || fail "the second start left with $code"
grep -qF "启动器已在运行中，请查看任务栏。" "$work/second.log" || fail "the second start did not say that the launcher runs"
wait_for_line first "SingleInstance: 另一次启动请求显示窗口" || fail "the first launcher was not woken"

kill -TERM "$first" || fail "the first launcher ended with the second start"
wait_exit "$first"; code=$?
[ "$code" -eq 0 ] || fail "the launcher left with $code after SIGTERM"

echo "== the bridge between page and launcher"
# The build carries a picture when its file was there.
present() { [ -f "$source_dir/ui/$1" ] && echo true || echo false; }
sed -e "s/__EXPECT_BG__/$(present bg.png)/" -e "s/__EXPECT_LOGO__/$(present logo.png)/" "$bridge_page" >"$work/bridge.html"
LUMIVALE_UI_PAGE="$work/bridge.html" "$exe" --home "$work/bridge" >"$work/bridge.log" 2>&1 &
wait_exit $!; code=$?
[ "$code" -eq 0 ] || fail "the bridge page did not close the window (exit $code)"

echo "== a file dropped on the window"
# The window takes the drop and hands the file's own path to the launcher, which starts the import
# (this zip holds no manifest, so the import then fails and says why).
pack="$work/Dropped Pack.zip"
printf 'PK\005\006%018d' 0 >"$pack"
"$exe" --home "$work/drop" >"$work/drop.log" 2>&1 & dropper=$!
wait_for_line drop "WebView: 页面加载完成" || fail "the page never finished loading for the drop"
"$drag_source" "$pack" || fail "the drag never began"
wait_for_line drop "整合包导入开始：$pack" || fail "no import of the dropped file's path"
grep -qF "拖放：收到文件 $pack" "$work/drop.log" || fail "the window did not say which file it got"
wait_for_line drop "整合包导入失败：" || fail "the import of the dropped file never ended"
kill -TERM "$dropper"; wait_exit "$dropper" >/dev/null

echo "== the self-test: window, page, bridge, a file: navigation and a download refused"
"$exe" --home "$work/self" --self-test="$work/self-test.json" >"$work/self.log" 2>&1 &
wait_exit $!; code=$?
[ "$code" -eq 0 ] || fail "the self-test left with $code"
grep -qF '"passed": true' "$work/self-test.json" 2>/dev/null || fail "the self-test's result does not say it passed"

echo "== no display"
env -u DISPLAY -u WAYLAND_DISPLAY "$exe" --home "$work/plain" </dev/null >"$work/plain.out" 2>"$work/plain.log"; code=$?
[ "$code" -eq 0 ] || fail "the launcher without a display left with $code"
grep -qF "无法打开图形显示，以 --headless 方式运行。" "$work/plain.log" || fail "no note about the missing display"

[ "$failures" -eq 0 ] && { echo "all window checks passed"; exit 0; }
for log in first second bridge drop self; do echo "--- $log.log"; cat "$work/$log.log"; done
exit 1
