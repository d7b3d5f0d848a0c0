#!/usr/bin/env bash
# Measures the X11 program on a virtual desktop of its own: memory per overlay, idle cost,
# start (to one overlay and to sixteen), display-change rebuild and colour fan-out, each
# beside the reference program bench/reference/bare_windows.c, which holds the same windows
# and nothing else.
#
#   bench/x11_bench.sh [--quick] [BUILD_DIR]
#
# BUILD_DIR (default build/default) must hold main/vellumor (the Qt build), bench/x11_probe,
# bench/bare_windows, bench/libstacking_count.so and bench/librepaint_clock.so. Without them, or without Xvfb, openbox,
# trayer, xrandr, xdotool or xwininfo, it says so and exits 0. --quick runs every measurement once, briefly, to show the
# measurements still work (CI); its figures are not worth quoting.
#
# It starts its own Xvfb (a free display number, -noreset, a 15360x8640 screen), openbox and
# trayer, and stops them, and every program it started, by process number. RandR monitors
# are set with xrandr --setmonitor; the program's defaults and the look it keeps for its next
# start live in a temporary XDG_CONFIG_HOME and XDG_CACHE_HOME.
set -euo pipefail

quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
    shift
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/default}" 2>/dev/null && pwd || echo "${1:-$root/build/default}")"
program="$build/main/vellumor"
probe="$build/bench/x11_probe"
bare="$build/bench/bare_windows"
counter="$build/bench/libstacking_count.so"
clock="$build/bench/librepaint_clock.so"

for file in "$program" "$probe" "$bare" "$counter" "$clock"; do
    if [ ! -x "$file" ]; then
        echo "x11_bench: skipped, $file is not built (it needs the Qt backend)"
        exit 0
    fi
done
for tool in Xvfb openbox trayer xrandr xdotool xwininfo xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "x11_bench: skipped, $tool is not installed"
        exit 0
    fi
done

if [ "$quick" = 1 ]; then
    sizes=(3840x2160)
    counts=(1 2)
    starts=1
    changes=1
    storm=5
    idle_seconds=1
    settle=0.5
else
    sizes=(3840x2160 1920x1080)
    counts=(1 2 4 8)
    starts=7
    changes=15
    storm=100
    idle_seconds=10
    settle=2
fi
overlays=16

work="$(mktemp -d "${TMPDIR:-/tmp}/vellumor-x11-bench.XXXXXX")"
mkdir -m 700 "$work/runtime" "$work/config" "$work/cache"
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime"
unset WAYLAND_DISPLAY SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS
log="$work/log"
started=()
bench=x11_bench
# shellcheck source=bench/support/bench.sh
source "$root/bench/support/bench.sh"

trap cleanup EXIT

# --- the virtual desktop ----------------------------------------------------------------------

Xvfb -displayfd 3 -screen 0 15360x8640x24 -noreset -nolisten tcp 3>"$work/display" \
    >>"$log" 2>&1 &
started+=($!)
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "x11_bench: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"
xvfb_pid=${started[0]}

openbox >>"$log" 2>&1 &
started+=($!)
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
openbox_pid=${started[1]}
trayer --edge top --align right --widthtype pixel --width 200 --height 24 \
    --SetDockType true --expand false >>"$log" 2>&1 &
started+=($!)
sleep 1

# Replaces the RandR monitors with $1 monitors of $2 x $3 pixels, four to a row; the first
# takes the screen's output, the others none.
set_monitors() {
    local n=$1 width=$2 height=$3 name output
    for name in $(xrandr --listmonitors | awk 'NR > 1 {print $2}' | tr -d '+*'); do
        xrandr --delmonitor "$name" >/dev/null 2>&1 || true
    done
    for ((i = 0; i < n; i++)); do
        output=none
        [ "$i" = 0 ] && output=screen
        xrandr --setmonitor "V$i" \
            "$width/600x$height/340+$(((i % 4) * width))+$(((i / 4) * height))" "$output" \
            >>"$log" 2>&1
    done
    local have
    have=$(xrandr --listmonitors | head -1 | awk '{print $2}')
    [ "$have" = "$n" ] || { echo "x11_bench: $have monitors instead of $n" >&2; exit 1; }
}

# Starts $2 (the program or the reference) and waits until it shows $1 overlays; sets
# start_ms and pid.
start_shown() {
    local out
    out=$("$probe" start "$@" 2>>"$log") || { echo "x11_bench: $2 did not cover $1 monitors" >&2; exit 1; }
    start_ms=$(sed -n 's/.*start_ms=\([0-9.]*\).*/\1/p' <<<"$out")
    pid=$(sed -n 's/.*pid=\([0-9]*\).*/\1/p' <<<"$out")
    started+=("$pid")
}

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
per_change_ms() { awk -v a="$1" -v b="$2" -v n="$3" 'BEGIN {printf "%.2f", (b - a) / n / 1e6}'; }

echo "x11_bench: Xvfb $DISPLAY 15360x8640x24, openbox, trayer; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"

# --- memory per overlay ---------------------------------------------------------------------

echo
echo "== Memory: VmRSS after ${settle} s, one process per count (KiB)"
for size in "${sizes[@]}"; do
    width=${size%x*}
    height=${size#*x}
    declare -A rss=()
    for kind in vellumor bare_windows; do
        binary=$program
        [ "$kind" = bare_windows ] && binary=$bare
        line="$kind $size:"
        for n in "${counts[@]}"; do
            set_monitors "$n" "$width" "$height"
            start_shown "$n" "$binary"
            sleep "$settle"
            rss[$kind,$n]=$(rss_kib "$pid")
            line+=" n=$n ${rss[$kind,$n]}"
            stop_pid "$pid"
        done
        echo "$line"
    done
    first=${counts[0]}
    last=${counts[-1]}
    span=$((last - first))
    awk -v v1="${rss[vellumor,$first]}" -v v2="${rss[vellumor,$last]}" \
        -v b1="${rss[bare_windows,$first]}" -v b2="${rss[bare_windows,$last]}" -v span="$span" \
        -v size="$size" -v first="$first" -v last="$last" 'BEGIN {
            printf "per extra overlay %s (n=%d..%d): vellumor %.1f KiB, bare_windows %.1f KiB\n",
                size, first, last, (v2 - v1) / span, (b2 - b1) / span
            printf "total ratio vellumor/bare_windows at n=%d: %.1f\n", last, v2 / b2
        }'
    unset rss
done

# --- start ------------------------------------------------------------------------------------

# Starts each kind $starts times until it shows $1 overlays and prints the medians.
measure_start() {
    local n=$1 kind binary r times
    echo
    echo "== Start: process start to $n overlays on screen (ms), $starts runs each"
    for kind in bare_windows vellumor; do
        binary=$program
        [ "$kind" = bare_windows ] && binary=$bare
        times=()
        for ((r = 0; r < starts; r++)); do
            start_shown "$n" "$binary"
            times+=("$start_ms")
            stop_pid "$pid"
        done
        echo "$kind: median $(printf '%s\n' "${times[@]}" | median)  all: ${times[*]}"
    done
    # The starts above show the overlays' look from the run before first (a start's usual
    # case); the very first start on an account has none to show.
    rm -f "$work/cache/vellumor/desktop-look"
    start_shown "$n" "$program"
    stop_pid "$pid"
    echo "vellumor with no look kept: $start_ms"
}

# One monitor shows the program's own start (linking, Qt, the first overlay) beside the
# reference's; sixteen of 3840x2160 add what the server's fills cost both.
set_monitors 1 3840 2160
measure_start 1
set_monitors "$overlays" 3840 2160
# Xvfb's frame buffer is memory that the first paint of each part faults in (seconds for
# 15360x8640); one start of the reference, not counted, pays for that.
start_shown "$overlays" "$bare"
stop_pid "$pid"
measure_start "$overlays"
# The program measured below counts its stacking-list reads and restack requests
# (x11/stacking_count.c), which costs it a round trip at start, and tells when it flushed its
# overlays' repaints (x11/repaint_clock.c): not one of the starts above.
counts="$work/stacking-counts"
repainted="$work/repaint-clock"
start_shown "$overlays" /usr/bin/env STACKING_COUNT_FILE="$counts" REPAINT_CLOCK_FILE="$repainted" \
    LD_PRELOAD="$counter $clock" "$program"
vellumor_pid=$pid

# --- idle -------------------------------------------------------------------------------------

sleep "$settle"
tray=$(xwininfo -root -tree | grep -c '("vellumor" "Vellumor")  22x22' || true)
echo
echo "== Idle: $idle_seconds s with $overlays overlays shown, tray icon embedded: $([ "$tray" -ge 1 ] && echo yes || echo no)"
read_idle() {
    local stat
    stat=$(sed 's/.*) //' "/proc/$vellumor_pid/stat")
    ticks=$(awk '{print $12 + $13}' <<<"$stat")
    voluntary=$(awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$vellumor_pid/status")
    involuntary=$(awk '/^nonvoluntary_ctxt_switches/ {print $2}' "/proc/$vellumor_pid/status")
    threads=""
    for task in /proc/"$vellumor_pid"/task/*; do
        threads+="$(cat "$task/comm"):$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status") "
    done
}
read_idle
ticks0=$ticks voluntary0=$voluntary involuntary0=$involuntary threads0=$threads
sleep "$idle_seconds"
read_idle
echo "CPU ticks (utime+stime, 1/$(getconf CLK_TCK) s): $((ticks - ticks0))"
echo "voluntary context switches (main thread): $((voluntary - voluntary0)); involuntary: $((involuntary - involuntary0))"
echo "per thread, voluntary switches before / after: $threads0/ $threads"

# --- rebuild ----------------------------------------------------------------------------------

# A program that keeps the windows of unchanged monitors is measured with "kept" as $3: its
# kept overlays count as on screen after the change.
measure_rebuild() {
    local target=$1 kind=$2 out cpu0 cpu1 x0 x1 w0 w1
    cpu0=$(cpu_ns "$target")
    x0=$(cpu_ns "$xvfb_pid")
    w0=$(cpu_ns "$openbox_pid")
    out=$("$probe" rebuild "$overlays" "$target" "$changes" ${3:-} 2>>"$log")
    cpu1=$(cpu_ns "$target")
    x1=$(cpu_ns "$xvfb_pid")
    w1=$(cpu_ns "$openbox_pid")
    echo "$kind: $(grep '^rebuild_attach' <<<"$out")"
    echo "$kind: $(grep '^rebuild_detach' <<<"$out")"
    echo "$kind: CPU per change: program $(per_change_ms "$cpu0" "$cpu1" $((2 * changes))) ms, Xvfb $(per_change_ms "$x0" "$x1" $((2 * changes))) ms, openbox $(per_change_ms "$w0" "$w1" $((2 * changes))) ms"
}
# What the program asked of the manager's stacking so far: "reads=R restacks=S".
stacking_counts() { cat "$counts" 2>/dev/null || echo "reads=0 restacks=0"; }
count_of() { sed -n "s/.*$1=\([0-9]*\).*/\1/p" <<<"$2"; }
echo
echo "== Rebuild: a monitor detached then attached again, until every new overlay is on screen"
before=$(stacking_counts)
measure_rebuild "$vellumor_pid" vellumor kept
after=$(stacking_counts)
awk -v r0="$(count_of reads "$before")" -v r1="$(count_of reads "$after")" \
    -v s0="$(count_of restacks "$before")" -v s1="$(count_of restacks "$after")" \
    -v n=$((2 * changes)) 'BEGIN {
        printf "vellumor: per change: %.1f _NET_CLIENT_LIST_STACKING reads, %.1f _NET_RESTACK_WINDOW requests\n",
            (r1 - r0) / n, (s1 - s0) / n
    }'

# --- a storm of display changes ----------------------------------------------------------------

# The program's X windows: overlays, the tray icon and Qt's own.
window_count() { xwininfo -root -tree | grep -c '("vellumor" "Vellumor")' || true; }
echo
echo "== Storm: $((2 * storm)) display changes in a row (a monitor detached and attached again)"
windows0=$(window_count)
rss0=$(rss_kib "$vellumor_pid")
"$probe" rebuild "$overlays" "$vellumor_pid" "$storm" kept >>"$log" 2>&1
sleep "$settle"
echo "vellumor: X windows $windows0 -> $(window_count), VmRSS $rss0 -> $(rss_kib "$vellumor_pid") KiB"

# --- colour fan-out ---------------------------------------------------------------------------

echo
echo "== Colour fan-out: Up/Down in the colour panel's Red field until all $overlays monitors show the new colour"
# The window tree changes while it is read (menus come and go), so a failed read is retried.
window_line() { xwininfo -root -tree 2>/dev/null | grep -m1 "$1" || true; }
icon=$(window_line '("vellumor" "Vellumor")  22x22' | awk '{print $NF}')
if [ -z "$icon" ]; then
    echo "x11_bench: no tray icon to open the menu from" >&2
    exit 1
fi
icon_x=$(cut -d+ -f2 <<<"$icon")
icon_y=$(cut -d+ -f3 <<<"$icon")
for attempt in 1 2 3; do
    xdotool mousemove $((icon_x + 11)) $((icon_y + 11)) click 1
    sleep 1
    # The menu: About, Pick Color..., Toggle Show/Hide, Quit (separators are skipped).
    xdotool key Down Down Return
    for _ in $(seq 50); do
        [ -n "$(window_line '"Colors": ("vellumor" "Vellumor")')" ] && break 2
        sleep 0.1
    done
    echo "x11_bench: the colour panel did not open (attempt $attempt)" >>"$log"
    xdotool key Escape
done
[ -n "$(window_line '"Colors": ("vellumor" "Vellumor")')" ] ||
    { echo "x11_bench: the colour panel did not open" >&2; exit 1; }
# The keys below go to the focused window: the panel must have the focus first, which a
# loaded manager may give it late.
panel=$(window_line '"Colors": ("vellumor" "Vellumor")' | awk '{print $1}')
xdotool windowactivate --sync "$panel" 2>>"$log" || true
sleep 0.5
# Alt+R moves the focus to the panel's Red field, where Up and Down change the colour by one.
xdotool key alt+r
sleep 0.3
cpu0=$(cpu_ns "$vellumor_pid")
x0=$(cpu_ns "$xvfb_pid")
out=$("$probe" fanout "$overlays" "$vellumor_pid" $((2 * changes)) "$repainted" 2>>"$log")
cpu1=$(cpu_ns "$vellumor_pid")
x1=$(cpu_ns "$xvfb_pid")
echo "vellumor: $(grep '^fanout overlays' <<<"$out")"
echo "vellumor, key press to the last overlay's repaint flushed: $(grep '^fanout_flushed' <<<"$out" || echo "not measured")"
echo "vellumor: CPU per change: program $(per_change_ms "$cpu0" "$cpu1" $((2 * changes))) ms, Xvfb $(per_change_ms "$x0" "$x1" $((2 * changes))) ms (with the probe's pixel reads)"
stop_pid "$vellumor_pid"

# --- the reference: the same windows, nothing else --------------------------------------------

echo
echo "== Reference bare_windows: rebuild, and the backend's repaint requests in isolation"
start_shown "$overlays" "$bare"
measure_rebuild "$pid" bare_windows
stop_pid "$pid"
# The floor of a rebuild: the reference keeping the windows of unchanged monitors.
start_shown "$overlays" "$bare" --reuse
measure_rebuild "$pid" "bare_windows --reuse" kept
stop_pid "$pid"
for size in "${sizes[@]}"; do
    set_monitors "$overlays" "${size%x*}" "${size#*x}"
    echo "$size: $("$bare" --repaint $((2 * changes)) 2>>"$log" | tr '\n' ' ')"
done
