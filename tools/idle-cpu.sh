#!/bin/sh
# Measures what the main loop costs and how well it keeps the sound going,
# playing to a private PulseAudio server with a null sink under a private X
# server. Run by hand after a build; it takes about 5 × SECONDS.
#
#   tools/idle-cpu.sh [SECONDS [BUILD_DIR]]      (defaults: 30, build)
#
# Prints one line per run: the loop probe (quorvanel-idleprobe) with the
# busy loop and with the waiting loop, idle, with the silent stand-in engine
# instead of the real one, and with key and mouse presses at 50 a second
# while a bank of 15 situations plays; then the program itself, idle, with
# its CPU taken from /proc and its standard error searched for underruns.
set -e
secs=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${2:-$root/build}" && pwd)
if [ -z "$DISPLAY" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$secs" "$build"
fi
dir=$(mktemp -d /tmp/quorvanel-idle-XXXXXX)
trap 'sh "$root/tools/pulse-server.sh" stop "$dir"; rm -rf "$dir"' EXIT
eval "$(sh "$root/tools/pulse-server.sh" start "$dir")"

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for run in "busy $secs 0 1" "wait $secs 0 1" "wait $secs 0 0" "wait $secs 50 15"; do
    "$build/quorvanel-idleprobe" $run 2>"$dir/probe.err" | tail -n 1
    grep -h "underrun" "$dir/probe.err" || true
done

# The program itself: CPU ticks of all its threads over the span, after the
# same start-up second the probe allows.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
"$build/quorvanel" >"$dir/out" 2>"$dir/err" &
pid=$!
sleep 2
t0=$(ticks $pid)
sleep "$secs"
t1=$(ticks $pid)
kill $pid
wait $pid 2>/dev/null || true
hz=$(getconf CLK_TCK)
echo "program idle: seconds=$secs cpu_percent=$(echo "$t0 $t1 $hz $secs" | awk '{ printf "%.2f", 100 * ($2 - $1) / $3 / $4 }') underrun_lines=$(grep -c underrun "$dir/err" || true)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
