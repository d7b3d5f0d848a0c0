#!/usr/bin/env bash
# Builds the Vellumor program (nothing else) and runs it.
#
# On a desktop (DISPLAY set) it runs there until you choose Quit in its tray menu. Without a
# display it starts a virtual one (Xvfb with two monitors, openbox, trayer as the tray), runs
# Vellumor on it beside an ordinary window, waits until the overlays cover both monitors,
# opens the tray icon's menu, saves a screenshot to build/vellumor-screenshot.png and stops
# everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."

binary="$PWD/build/default/main/vellumor"
if [ ! -x "$binary" ]; then
    echo "run.sh: building Vellumor in build/default, the program alone (no tests or" \
        "benchmarks); the first build takes a few minutes" >&2
fi
# The default preset with the tests and benchmarks optional: they are not built here, so
# their libraries need not be installed to run the program.
mkdir -p build
cmake --preset default -DVELLUMOR_TESTS=AUTO -DVELLUMOR_BENCH=AUTO >build/run-configure.log ||
    { cat build/run-configure.log >&2; exit 1; }
cmake --build --preset default --target vellumor -j "$(nproc 2>/dev/null || echo 2)"

if [ -n "${DISPLAY:-}" ]; then
    exec "$binary"
fi

for tool in Xvfb openbox trayer xrandr xprop xdotool xmessage import; do
    if ! command -v "$tool" >/dev/null; then
        echo "run.sh: no DISPLAY, and $tool is missing for a virtual one" >&2
        echo "  (Debian: apt-get install xvfb openbox trayer x11-xserver-utils x11-utils xdotool imagemagick)" >&2
        exit 1
    fi
done

work="$(mktemp -d)"
pids=()
stop_all() {
    # Last started, first stopped; each by the pid it was started with.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap stop_all EXIT

# Waits up to ten seconds for a command to succeed.
wait_for() {
    for _ in $(seq 100); do
        if "$@" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    echo "run.sh: timed out waiting for: $*" >&2
    return 1
}

# Xvfb picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1920x720x24 -noreset -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"

# Two monitors: the primary one 1280x720, a smaller one (640x480) to its right; the screen
# below the second one is no monitor's, and stays uncovered.
xrandr --setmonitor +A 1280/339x720/191+0+0 screen >/dev/null
xrandr --setmonitor B 640/169x480/127+1280+0 none >/dev/null

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'

trayer --edge bottom --align left --widthtype request --height 28 --SetDockType true \
    --transparent false --tint 0x303030 >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for xdotool search --onlyvisible --class trayer

# Without a session bus the tray icon goes into trayer, the virtual desktop's tray.
env -u DBUS_SESSION_BUS_ADDRESS "$binary" >"$work/vellumor.log" 2>&1 &
pids+=($!)

# The program's own windows: the instance name "vellumor" alone, not the stand-ins that cover
# the monitors while the program loads ("vellumor-start").
count_overlays() {
    local count=0
    for window in $(xdotool search --onlyvisible --classname '^vellumor$' 2>/dev/null); do
        if xprop -id "$window" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DESKTOP; then
            count=$((count + 1))
        fi
    done
    echo "$count"
}
covered=0
for _ in $(seq 100); do
    [ "$(count_overlays)" -ge 2 ] && covered=1 && break
    sleep 0.1
done
if [ "$covered" = 0 ]; then
    echo "run.sh: Vellumor did not cover the monitors; its output:" >&2
    cat "$work/vellumor.log" >&2
    exit 1
fi
# An ordinary window, which stays above the overlays.
xmessage -geometry +380+200 -buttons OK \
    "An ordinary window: Vellumor's cover stays below it, on every monitor." \
    >"$work/xmessage.log" 2>&1 &
pids+=($!)
wait_for xdotool search --onlyvisible --class xmessage

# The tray icon's menu, opened with a click on the icon once it sits in the tray.
vellumor_window_of_type() {
    for window in $(xdotool search --onlyvisible --classname '^vellumor$' 2>/dev/null); do
        if xprop -id "$window" _NET_WM_WINDOW_TYPE | grep -q "$1"; then
            echo "$window"
            return 0
        fi
    done
    return 1
}
wait_for vellumor_window_of_type _KDE_NET_WM_WINDOW_TYPE_OVERRIDE
sleep 0.5
icon="$(vellumor_window_of_type _KDE_NET_WM_WINDOW_TYPE_OVERRIDE)"
eval "$(xdotool getwindowgeometry --shell "$icon")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
wait_for vellumor_window_of_type _NET_WM_WINDOW_TYPE_POPUP_MENU
# The pointer away from the menu, lest it light an entry; then the menu's drawing settles.
xdotool mousemove 1100 300
sleep 0.5

import -window root build/vellumor-screenshot.png
echo "Vellumor ran on a virtual desktop with two monitors ($DISPLAY)."
echo "Screenshot: $PWD/build/vellumor-screenshot.png"
