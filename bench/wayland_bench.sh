#!/usr/bin/env bash
# Measures the program on a headless Wayland compositor of its own (sway, pixman renderer):
# memory per extra 4K output, start, output-change rebuild, colour change through the tray
# menu's colour dialog, and idle cost.
#
#   bench/wayland_bench.sh [--quick] [BUILD_DIR]
#
# BUILD_DIR (default build/default) must hold main/vellumor and its module (the Qt build).
# Without them, or without sway, swaymsg, grim, wtype, dbus-daemon or dbus-send, it says so
# and exits 0; as root it needs the account vellumortest that .ci/run creates, since sway will
# not run as root.
# --quick runs every measurement once, briefly, to show the measurements still work (CI); its
# figures are not worth quoting.
#
# It starts its own session bus and sway (WLR_BACKENDS=headless, a private XDG_RUNTIME_DIR),
# keeps the program's defaults in a temporary XDG_CONFIG_HOME and stops everything it started
# by process number. Pixels are read one at a time with grim -g, near each output's
# bottom-right corner, which windows (the colour dialog, centred) leave bare and which a
# buffer too short for the output would leave unpainted.
set -euo pipefail

quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
    shift
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/default}" 2>/dev/null && pwd || echo "${1:-$root/build/default}")"
program="$build/main/vellumor"
module="$build/main/vellumor-program.so"
watcher="$build/bench/wayland_watcher"
account=vellumortest

for file in "$program" "$module" "$watcher"; do
    if [ ! -x "$file" ]; then
        echo "wayland_bench: skipped, $file is not built (it needs the Qt backend)"
        exit 0
    fi
done
for tool in sway swaymsg grim wtype dbus-daemon dbus-send; do
    if ! command -v "$tool" >/dev/null; then
        echo "wayland_bench: skipped, $tool is not installed"
        exit 0
    fi
done
as_user=()
if [ "$(id -u)" = 0 ]; then
    if ! id -u "$account" >/dev/null 2>&1; then
        echo "wayland_bench: skipped, sway does not run as root and there is no account $account"
        exit 0
    fi
    as_user=(setpriv --reuid="$(id -u "$account")" --regid="$(id -g "$account")" --clear-groups)
fi

if [ "$quick" = 1 ]; then
    extra_outputs=1
    starts=1
    changes=1
    picks=2
    idle_seconds=1
    settle=0.5
else
    extra_outputs=3
    starts=7
    changes=9
    picks=20
    idle_seconds=10
    settle=2
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/vellumor-wayland-bench.XXXXXX")"
chmod 755 "$work"
mkdir -m 700 "$work/runtime" "$work/config"
# The launcher loads the program's module from beside it.
cp "$program" "$module" "$work/"
cp "$watcher" "$work/wayland_watcher"
log="$work/log"
: >"$log"
[ "${#as_user[@]}" = 0 ] || chown -R "$account": "$work"
started=()
bench=wayland_bench
# shellcheck source=bench/support/bench.sh
source "$root/bench/support/bench.sh"

trap cleanup EXIT

bus="unix:path=$work/runtime/bus"
session_env=(env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work" XDG_RUNTIME_DIR="$work/runtime"
    XDG_CONFIG_HOME="$work/config" DBUS_SESSION_BUS_ADDRESS="$bus")
# Runs a command as the session's user in the session's environment.
in_session() { "${as_user[@]}" "${session_env[@]}" "${client_env[@]}" "$@"; }
# The same in the background, exec'd so that $! is the command's own process number (the one
# measured and stopped), not a shell's.
in_session_bg() { (exec "${as_user[@]}" "${session_env[@]}" "${client_env[@]}" "$@") & }
client_env=()

# --- the desktop ------------------------------------------------------------------------------

"${as_user[@]}" "${session_env[@]}" dbus-daemon --session --nofork --nopidfile \
    --address="$bus" >>"$log" 2>&1 &
started+=($!)
for _ in $(seq 100); do
    [ -S "$work/runtime/bus" ] && break
    sleep 0.1
done
# As the session's user too: the bus lets no one else on.
in_session_bg "$work/wayland_watcher" "$bus" >"$work/items" 2>>"$log"
started+=($!)
for _ in $(seq 100); do
    grep -q ready "$work/items" 2>/dev/null && break
    sleep 0.1
done
grep -q ready "$work/items" || { echo "wayland_bench: the tray watcher did not start" >&2; exit 1; }
printf '%s\n' "printf '%s\\n%s\\n' \"\$WAYLAND_DISPLAY\" \"\$SWAYSOCK\" >$work/sockets.part" \
    "mv $work/sockets.part $work/sockets" >"$work/announce"
printf '%s\n' "xwayland disable" "exec sh $work/announce" >"$work/sway.config"
[ "${#as_user[@]}" = 0 ] || chown "$account": "$work/announce" "$work/sway.config"
"${as_user[@]}" "${session_env[@]}" WLR_BACKENDS=headless WLR_RENDERER=pixman \
    WLR_LIBINPUT_NO_DEVICES=1 sway -c "$work/sway.config" >>"$log" 2>&1 &
started+=($!)
for _ in $(seq 150); do
    [ -s "$work/sockets" ] && break
    sleep 0.1
done
[ -s "$work/sockets" ] || { echo "wayland_bench: sway did not start" >&2; exit 1; }
client_env=(WAYLAND_DISPLAY="$(sed -n 1p "$work/sockets")" SWAYSOCK="$(sed -n 2p "$work/sockets")"
    XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway)
msg() { in_session swaymsg -- "$@" >>"$log" 2>&1; }
# A keyboard held for the whole session, as a real seat has one: the headless seat has a
# keyboard only while a virtual one exists, and a client binds its own a moment after one
# appears, so the first keys of a wtype that brought the only keyboard would be lost.
in_session_bg wtype -s 1000000 >>"$log" 2>&1
started+=($!)

# The outputs as "name x y width height" lines. Each output's object holds one name and one
# rect, in whichever order sway writes them (1.7: the rect first).
outputs() {
    in_session swaymsg -r -t get_outputs |
        tr -d ' \n' | grep -o '"name":"[^"]*"\|"rect":{[^}]*}' |
        sed 's/"name":"\([^"]*\)"/name \1/; s/"rect":{"x":\([-0-9]*\),"y":\([-0-9]*\),"width":\([0-9]*\),"height":\([0-9]*\)}/rect \1 \2 \3 \4/' |
        awk '$1 == "name" {name = $2} $1 == "rect" {rect = $2 " " $3 " " $4 " " $5}
             name != "" && rect != "" {print name, rect; name = ""; rect = ""}'
}
# The colour at one point of the layout, as "r g b".
pixel() {
    in_session grim -g "$1,$2 1x1" -t ppm - 2>>"$log" | tail -c 3 | od -An -tu1 | xargs
}
# Whether every output shows "$1" near its bottom-right corner.
all_show() {
    local name x y w h
    while read -r name x y w h; do
        [ "$(pixel $((x + w - 2)) $((y + h - 2)))" = "$1" ] || return 1
    done < <(outputs)
}
wait_all_show() {
    for _ in $(seq 1000); do
        all_show "$1" && return 0
        sleep 0.005
    done
    echo "wayland_bench: the outputs do not show $1" >&2
    exit 1
}
now_ms() { date +%s%N | awk '{printf "%.1f", $1 / 1e6}'; }
kib() { awk -v k="$1" "/^$2:/ {print \$2}" "/proc/$3/smaps_rollup"; }
grey="26 26 26"

start_program() {
    in_session_bg "$work/vellumor" >>"$log" 2>&1
    pid=$!
    started+=("$pid")
}

msg output HEADLESS-1 resolution 3840x2160 position 0 0
echo "wayland_bench: sway $(sway --version | awk '{print $3}') headless, pixman; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"

# --- memory per extra 4K output ------------------------------------------------------------------

echo
echo "== Memory: one process, outputs of 3840x2160 added one by one, ${settle} s after each is covered (KiB)"
start_program
wait_all_show "$grey"
sleep "$settle"
rss0=$(kib x Rss "$pid")
pss0=$(kib x Pss "$pid")
line="n=1 Rss $rss0 Pss $pss0"
for ((i = 1; i <= extra_outputs; i++)); do
    msg create_output
    name=$(outputs | awk 'END {print $1}')
    msg output "$name" resolution 3840x2160 position $((i * 3840)) 0
    wait_all_show "$grey"
    sleep "$settle"
    line+="; n=$((i + 1)) Rss $(kib x Rss "$pid") Pss $(kib x Pss "$pid")"
done
rss1=$(kib x Rss "$pid")
pss1=$(kib x Pss "$pid")
echo "$line"
awk -v r0="$rss0" -v r1="$rss1" -v p0="$pss0" -v p1="$pss1" -v n="$extra_outputs" 'BEGIN {
    printf "per extra 4K output: Rss %.1f KiB, Pss %.1f KiB (target < 1024 KiB)\n",
        (r1 - r0) / n, (p1 - p0) / n }'

# --- idle -------------------------------------------------------------------------------------

echo
echo "== Idle: $idle_seconds s with $((extra_outputs + 1)) overlays shown"
ticks() { sed 's/.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}'; }
switches() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$pid/status"; }
t0=$(ticks)
s0=$(switches)
sleep "$idle_seconds"
echo "CPU ticks (utime+stime, 1/$(getconf CLK_TCK) s): $(($(ticks) - t0)); voluntary context switches (main thread): $(($(switches) - s0))"

# --- output change ----------------------------------------------------------------------------

echo
echo "== Output change: an output's mode changed, until its corner shows the overlay again (ms)"
last=$(outputs | awk 'END {print $1, $2}')
last_name=${last% *}
last_x=${last#* }
times=()
cpu0=$(cpu_ns "$pid")
for ((r = 0; r < changes; r++)); do
    size=1920x1080
    [ $((r % 2)) = 1 ] && size=3840x2160
    t=$(now_ms)
    msg output "$last_name" resolution "$size"
    w=${size%x*}
    h=${size#*x}
    for _ in $(seq 2000); do
        [ "$(pixel $((last_x + w - 2)) $((h - 2)))" = "$grey" ] && break
        sleep 0.002
    done
    times+=("$(awk -v a="$t" -v b="$(now_ms)" 'BEGIN {printf "%.1f", b - a}')")
done
cpu1=$(cpu_ns "$pid")
echo "vellumor: median $(printf '%s\n' "${times[@]}" | median)  all: ${times[*]}; program CPU per change $(awk -v a="$cpu0" -v b="$cpu1" -v n="$changes" 'BEGIN {printf "%.2f", (b - a) / n / 1e6}') ms"

# --- colour change ----------------------------------------------------------------------------

echo
echo "== Colour change: the colour dialog's HTML field typed into, until every output's corner shows it (ms)"
# The tray item's menu, as a panel reads it: the item is the last one that registered with the
# watcher; its entries' ids come from the layout.
item=""
for _ in $(seq 100); do
    item=$(grep -v ready "$work/items" | tail -1 || true)
    [ -n "$item" ] && break
    sleep 0.1
done
if [ -z "$item" ]; then
    echo "wayland_bench: the program registered no tray item" >&2
    exit 1
else
    in_session dbus-send --session --print-reply --dest="$item" /MenuBar \
        com.canonical.dbusmenu.AboutToShow int32:0 >/dev/null
    pick_id=$(in_session dbus-send --session --print-reply --dest="$item" /MenuBar \
        com.canonical.dbusmenu.GetLayout int32:0 int32:-1 array:string: |
        awk '/int32/ {id = $2} /"Pick Color..."/ {print id; exit}')
    # With a reply asked for: Qt's menu drops an Event sent as a call that wants none.
    in_session dbus-send --session --print-reply --dest="$item" /MenuBar \
        com.canonical.dbusmenu.Event int32:"$pick_id" string:clicked variant:int32:0 uint32:0 \
        >/dev/null
    # The dialog, once mapped, has the focus that the keys go to.
    for _ in $(seq 100); do
        in_session swaymsg -t get_tree | grep -q '"name": "Colors"' && break
        sleep 0.05
    done
    in_session wtype -M alt h -m alt
    times=()
    cpu0=$(cpu_ns "$pid")
    for ((r = 0; r < picks; r++)); do
        value=$((16 + r))
        t=$(now_ms)
        in_session wtype -M ctrl a -m ctrl "$(printf '#%02x%02x%02x' "$value" "$value" "$value")"
        wait_all_show "$value $value $value"
        times+=("$(awk -v a="$t" -v b="$(now_ms)" 'BEGIN {printf "%.1f", b - a}')")
    done
    cpu1=$(cpu_ns "$pid")
    echo "vellumor: median $(printf '%s\n' "${times[@]}" | median)  all: ${times[*]}; program CPU per pick $(awk -v a="$cpu0" -v b="$cpu1" -v n="$picks" 'BEGIN {printf "%.2f", (b - a) / n / 1e6}') ms (typing a colour is 7 key presses, each a pick)"
fi
stop_pid "$pid"

# --- start ------------------------------------------------------------------------------------

echo
echo "== Start: process start to the corner of all $((extra_outputs + 1)) outputs covered (ms), $starts runs"
times=()
for ((r = 0; r < starts; r++)); do
    # The default colour each run; the previous run's overlays are gone before it starts.
    rm -rf "${work:?}/config/vellumor"
    t=$(now_ms)
    start_program
    wait_all_show "$grey"
    times+=("$(awk -v a="$t" -v b="$(now_ms)" 'BEGIN {printf "%.1f", b - a}')")
    stop_pid "$pid"
    for _ in $(seq 100); do
        all_show "$grey" || break
        sleep 0.02
    done
done
echo "vellumor: median $(printf '%s\n' "${times[@]}" | median)  all: ${times[*]}"
