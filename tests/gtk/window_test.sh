#!/usr/bin/env bash
# The real launcher window under Xvfb, in a fresh home:
#  - the page is shown: a screenshot of the screen is the page (many colours, the window covers
#    the screen), kept as an artifact;
#  - the page and the launcher talk through window.chrome.webview (a bridge page closes the window
#    only when every check of its own passed);
#  - a second start on the same home wakes the first, says so and leaves with 0;
#  - a polite end (SIGTERM) closes the window and the launcher leaves with 0;
#  - without a display the launcher falls back to the line protocol.
# Usage: window_test.sh LUMIVALE_EXE ARTIFACT_DIR BRIDGE_PAGE SOURCE_DIR
set -uo pipefail

exe=$1
artifacts=$2
bridge_page=$3
source_dir=$4

if [ -z "${LUMIVALE_UNDER_XVFB:-}" ]; then
    if ! command -v xvfb-run >/dev/null 2>&1; then
        echo "xvfb-run is not installed (scripts/deps.sh test installs it): skipped"
        exit 77
    fi
    exec env LUMIVALE_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

work=$(mktemp -d)
mkdir -p "$artifacts" "$work/tmp"
export XDG_DATA_HOME="$work/data" TMPDIR="$work/tmp"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Waits (a hang guard, not a time measurement) until FILE holds TEXT while PID runs.
wait_for_line() {
    local file=$1 text=$2 pid=$3
    for _ in $(seq 1 600); do
        grep -qF "$text" "$file" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || { grep -qF "$text" "$file" 2>/dev/null; return; }
        sleep 0.2
    done
    return 1
}

# Ends PID; its exit code, or 124 when it does not end (it is then killed).
wait_exit() {
    local pid=$1
    for _ in $(seq 1 600); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            return
        fi
        sleep 0.2
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 124
}

# Number of colours and the share of pure black pixels of a picture.
colours() { convert "$1" -format "%k" info:; }
black_share() { convert "$1" -fill white +opaque black -format "%[fx:1-mean]" info:; }

echo "== the page in the window"
shot="$artifacts/lumivale-window.png"
"$exe" --home "$work/home" >"$work/first.log" 2>&1 &
first=$!
pids+=("$first")
if ! wait_for_line "$work/first.log" "WebView: 页面加载完成" "$first"; then
    fail "the page never finished loading"
fi
# The page paints after its load: look again until the screen shows it (bounded).
shown=no
for _ in $(seq 1 50); do
    import -window root "$shot"
    if [ "$(colours "$shot")" -ge 64 ] &&
        awk -v b="$(black_share "$shot")" 'BEGIN { exit !(b < 0.05) }'; then
        shown=yes
        break
    fi
    sleep 0.2
done
echo "screenshot: $shot ($(colours "$shot") colours, black share $(black_share "$shot"))"
[ "$shown" = yes ] || fail "the screenshot is not the page (blank, an error box or no window)"
kill -0 "$first" 2>/dev/null || fail "the launcher did not keep running"

echo "== a second start on the same home"
"$exe" --home "$work/home" >"$work/second.log" 2>&1 &
second=$!
pids+=("$second")
wait_exit "$second"
code=$?
[ "$code" -eq 0 ] || fail "the second start left with $code"
grep -qF "启动器已在运行中，请查看任务栏。" "$work/second.log" || fail "the second start did not say that the launcher runs"
wait_for_line "$work/first.log" "SingleInstance: 另一次启动请求显示窗口" "$first" ||
    fail "the first launcher was not woken"
kill -0 "$first" 2>/dev/null || fail "the first launcher ended with the second start"

echo "== a polite end"
kill -TERM "$first"
wait_exit "$first"
code=$?
[ "$code" -eq 0 ] || fail "the launcher left with $code after SIGTERM"

echo "== the bridge between page and launcher"
# The build carries a picture when its file was there.
present() { [ -f "$source_dir/ui/$1" ] && echo true || echo false; }
sed -e "s/__EXPECT_BG__/$(present bg.png)/" -e "s/__EXPECT_LOGO__/$(present logo.png)/" \
    "$bridge_page" >"$work/bridge.html"
LUMIVALE_UI_PAGE="$work/bridge.html" "$exe" --home "$work/bridge" >"$work/bridge.log" 2>&1 &
bridge=$!
pids+=("$bridge")
wait_exit "$bridge"
code=$?
[ "$code" -eq 0 ] || fail "the bridge page did not close the window (exit $code)"

echo "== no display"
env -u DISPLAY -u WAYLAND_DISPLAY "$exe" --home "$work/plain" </dev/null >"$work/plain.out" 2>"$work/plain.err"
code=$?
[ "$code" -eq 0 ] || fail "the launcher without a display left with $code"
grep -qF "无法打开图形显示，以 --headless 方式运行。" "$work/plain.err" || fail "no note about the missing display"

if [ "$failures" -ne 0 ]; then
    for log in first second bridge; do
        echo "--- $log.log"
        cat "$work/$log.log" 2>/dev/null
    done
    exit 1
fi
echo "all window checks passed"
