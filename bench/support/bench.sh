# Shell pieces the desktop benchmarks share; sourced by bench/*_bench.sh after they set
# `bench` (their name, for messages) and `log`, and make the array `started`.

# Stops a process by its number: SIGTERM, then SIGKILL if it has not ended within 5 s.
stop_pid() {
    local pid=$1
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        [ -e "/proc/$pid" ] && [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" != Z ] ||
            return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
}

# On exit: stops what the bench started, newest first, shows the log's end after a failure,
# and removes the bench's directory `work`.
cleanup() {
    local status=$?
    for ((i = ${#started[@]} - 1; i >= 0; i--)); do
        stop_pid "${started[i]}"
    done
    if [ "$status" != 0 ] && [ -f "$log" ]; then
        echo "$bench: failed; the last lines of its log:" >&2
        tail -20 "$log" >&2
    fi
    rm -rf "$work"
}

# CPU time of every thread of a process, in nanoseconds (scheduler statistics).
cpu_ns() {
    local total=0 run rest
    for file in /proc/"$1"/task/*/schedstat; do
        read -r run rest <"$file" || continue
        total=$((total + run))
    done
    echo "$total"
}

# The median of the numbers on standard input, one per line.
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
