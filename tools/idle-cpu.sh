#!/bin/sh
# Measures what the main loop costs and how well it keeps the sound going,
# playing to a private sound server with a null sink under a private X
# server. Run by hand after a build; one command, one table at the end.
#
#   tools/idle-cpu.sh [SECONDS [BUILD_DIR]]      (defaults: 30, build)
#
# First the loop probe (quorvanel-idleprobe), one line per run: the busy
# loop and the waiting loop, idle, with the silent stand-in engine instead
# of the real one, and with key and mouse presses at 50 a second while a
# bank of 15 situations plays.
#
# Then the program itself, SECONDS each after a start-up of 2 seconds, with
# the runs alternating, through a private PulseAudio server (its log at
# level 4) and, when PipeWire and its ALSA plugin are installed, through a
# private PipeWire server with PipeWire's own ALSA plugin:
#   idle     no input, the default buffer (46 ms), the device period asked
#   idle     the same with the period left to the device
#            (QUORVANEL_DEVICE_PERIOD), for the CPU the period request saves
#   idle     --latency 23
#   play     --play: a bank of 15 situations (patches/fullbank.texte) with
#            its moving axes (scripts/fullbank.txt, repeated for the span)
#   play     the same with --latency 23
#   nopad    with NOPADS_BUILD=DIR (a build configured with
#            -DQUORVANEL_PADS=OFF): idle as the first row, but that build's
#            program, without game-controller support, for what pad support
#            costs with no pad attached. ONLY=pads keeps just these two rows
#            (no probe, no start-ups, no PipeWire).
#   nomidi   the same with NOMIDI_BUILD=DIR (-DQUORVANEL_MIDI=OFF), for what
#            the sequencer client costs with nothing connected; ONLY=midi
#            keeps just the idle row and this one.
# ONLY=pulse keeps the rows above through PulseAudio and nothing else.
# Then, when jackd is installed, the program as a JACK client (--jack) on a
# private JACK server with the dummy backend at 48000 frames a second in
# periods of 256: idle, play, and idle with --latency 23; the server column
# is jackd's process. ONLY=jack keeps just these rows and PulseAudio's first
# (the ALSA path beside them).
# (ROUNDS times over, default 1: the rows of a round alternate, so a
# neighbour's load falls on all of them alike) and, through PulseAudio only, STARTS starts of 2 seconds each for both
# buffers with the sink already running for another client (a second stream
# of silence), where a start that runs dry shows in the server's log.
#
# Columns: cpu and server (percent of one core, the program's threads and
# the sound server's process, over the span), underruns at start-up (the
# first 2 seconds) and in the span, each as the units the program lost (its
# "audio underrun" lines; under JACK the number of such lines, each a
# stretch of silence) / the times the server logged a stream of ours
# running dry ("Implicit underrun"; - where the server has no such log),
# the output delay right after each write (QUORVANEL_DELAY_STATS: median
# and maximum, ms) and the 1-minute load average at the end of the run.
set -e
secs=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${2:-$root/build}" && pwd)
starts=${STARTS:-5}
rounds=${ROUNDS:-1}
nopads=""
[ -n "$NOPADS_BUILD" ] && nopads=$(cd "$NOPADS_BUILD" && pwd)
nomidi=""
[ -n "$NOMIDI_BUILD" ] && nomidi=$(cd "$NOMIDI_BUILD" && pwd)
only=${ONLY:-}
# ONLY=pads or ONLY=midi: just the rows that compare builds; ONLY=jack: the
# JACK rows; ONLY=pulse: the program's rows through PulseAudio.
[ "$only" = midi ] && only=pads
sh "$root/tools/setup.sh" test
if [ -z "$DISPLAY" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$secs" "$build"
fi
dir=$(mktemp -d /tmp/quorvanel-idle-XXXXXX)
server=""
keeper=""
jackd_pid=""
cleanup() {
    [ -n "$keeper" ] && kill "$keeper" 2>/dev/null
    [ -n "$jackd_pid" ] && kill "$jackd_pid" 2>/dev/null
    [ -n "$server" ] && [ "$server" != jack ] && sh "$root/tools/$server-server.sh" stop "$dir/$server"
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

load() { cut -d' ' -f1 /proc/loadavg; }
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
percent() { echo "$1 $2 $3" | awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", 100 * ($2 - $1) / hz / $3 }'; }
# Units lost, from the program's "audio underrun, N units lost" lines; under
# JACK, the lines "audio underrun, N frames of silence played".
lost_units() {
    if [ "$server" = jack ]; then
        awk '/audio underrun/ { n++ } END { print n + 0 }' "$1"
    else
        awk '/audio underrun/ { s += $4 } END { print s + 0 }' "$1"
    fi
}
# Underruns of our streams the server logged after line $1 of its log.
server_underruns() {
    if [ "$server" = pulse ]; then
        tail -n +"$(($1 + 1))" "$dir/pulse/pulse.log" | grep -a -c "Implicit underrun of 'ALSA" || true
    else
        echo -
    fi
}
log_lines() {
    if [ "$server" = pulse ]; then grep -a -c '' "$dir/pulse/pulse.log" || true; else echo 0; fi
}
server_pid() {
    case "$server" in
    pulse) cat "$dir/pulse/run/pulse/pid" ;;
    jack) echo "$jackd_pid" ;;
    *) cat "$dir/pipewire/pipewire.pid" ;;
    esac
}

# The bank's moving axes, repeated to last the span: the script is one
# second of reports, one a unit.
awk -v n=$((secs + 5)) '
    /^[0-9]/ { frame[c] = $1; $1 = ""; rest[c++] = $0 }
    END { span = frame[c - 1] + 256
          for (k = 0; k < n; k++) for (i = 0; i < c; i++) print frame[i] + k * span rest[i] }
' "$root/scripts/fullbank.txt" >"$dir/play.txt"

table="$dir/table"
printf '%-9s %-5s %-8s %-7s %6s %7s %9s %9s %13s %5s\n' server run buffer period cpu% server% start-up span delay-ms load >"$table"

# One run of the program: RUN (idle|play|nopad|nomidi) LATENCY_MS (or "") PERIOD
# (asked|device). nopad and nomidi run idle, NOPADS_BUILD's or NOMIDI_BUILD's program. Appends its row
# to the table.
run_program() {
    program="$build/quorvanel"
    [ "$1" = nopad ] && program="$nopads/quorvanel"
    [ "$1" = nomidi ] && program="$nomidi/quorvanel"
    args=""
    [ -n "$2" ] && args="--latency $2"
    [ "$server" = jack ] && args="$args --jack"
    [ "$1" = play ] && args="$args --play $dir/play.txt $root/patches/fullbank.texte"
    envs="QUORVANEL_DELAY_STATS=1"
    [ "$3" = device ] && envs="$envs QUORVANEL_DEVICE_PERIOD=1"
    log0=$(log_lines)
    env $envs "$program" $args >"$dir/out" 2>"$dir/err" &
    pid=$!
    sleep 2
    start_lost=$(lost_units "$dir/err")
    start_server=$(server_underruns "$log0")
    log1=$(log_lines)
    spid=$(server_pid)
    t0=$(ticks $pid)
    s0=$(ticks "$spid")
    sleep "$secs"
    t1=$(ticks $pid)
    s1=$(ticks "$spid")
    span_lost=$(($(lost_units "$dir/err") - start_lost))
    span_server=$(server_underruns "$log1")
    kill $pid
    wait $pid 2>/dev/null || true
    delay=$(grep "output delay" "$dir/err" | tail -n 1 |
            sed -n 's/.*median \([0-9.-]*\) ms, max \([0-9.-]*\) ms.*/\1\/\2/p')
    period=$3
    [ "$server" = jack ] && period=256
    printf '%-9s %-5s %-8s %-7s %6s %7s %9s %9s %13s %5s\n' "$server" "$1" "${2:-46}ms" "$period" \
        "$(percent "$t0" "$t1" "$secs")" "$(percent "$s0" "$s1" "$secs")" \
        "$start_lost/$start_server" "$span_lost/$span_server" "${delay:--}" "$(load)" >>"$table"
}

# The JACK rows, on a private server of their own.
jack_rows() {
    command -v jackd >/dev/null || { echo "jack: not measured (jackd is not installed)"; return 0; }
    JACK_DEFAULT_SERVER=quorvanel-idle-$$
    JACK_NO_AUDIO_RESERVATION=1
    export JACK_DEFAULT_SERVER JACK_NO_AUDIO_RESERVATION
    jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$dir/jackd.log" 2>&1 &
    jackd_pid=$!
    i=0
    until jack_lsp >/dev/null 2>&1 || [ $i -ge 100 ]; do sleep 0.1; i=$((i + 1)); done
    server=jack
    round=0
    while [ $round -lt "$rounds" ]; do
        run_program idle "" asked
        run_program play "" asked
        run_program idle 23 asked
        round=$((round + 1))
    done
    server=""
    kill "$jackd_pid"
    wait "$jackd_pid" 2>/dev/null || true
    jackd_pid=""
}

program_rows() {
    round=0
    while [ $round -lt "$rounds" ]; do
        run_program idle "" asked
        [ -n "$nopads" ] && run_program nopad "" asked
        [ -n "$nomidi" ] && run_program nomidi "" asked
        if [ "$only" = pads ] || [ "$only" = jack ]; then round=$((round + 1)); continue; fi
        run_program idle "" device
        run_program idle 23 asked
        run_program play "" asked
        run_program play 23 asked
        round=$((round + 1))
    done
}

# Starts of 2 seconds while another client keeps the sink running: the
# program's first writes are then pulled at once, and a device left to run
# dry while the program starts shows in the server's log.
startup_rows() {
    pacat --latency-msec=30 --rate=22050 --channels=2 --format=s16le --raw /dev/zero &
    keeper=$!
    sleep 1
    for lat in "" 23; do
        lost=0
        logged=0
        i=0
        while [ $i -lt "$starts" ]; do
            log0=$(log_lines)
            "$build/quorvanel" ${lat:+--latency $lat} >"$dir/out" 2>"$dir/err" &
            pid=$!
            sleep 2
            kill $pid
            wait $pid 2>/dev/null || true
            lost=$((lost + $(lost_units "$dir/err")))
            logged=$((logged + $(server_underruns "$log0")))
            i=$((i + 1))
        done
        printf '%-9s %-5s %-8s %-7s %6s %7s %9s %9s %13s %5s\n' "$server" "${starts}x2s" "${lat:-46}ms" \
            asked - - "$lost/$logged" - "(sink busy)" "$(load)" >>"$table"
    done
    kill "$keeper"
    wait "$keeper" 2>/dev/null || true
    keeper=""
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
mkdir -p "$dir/pulse"
eval "$(sh "$root/tools/pulse-server.sh" start "$dir/pulse" 4)"
server=pulse
[ -n "$only" ] || for run in "busy $secs 0 1" "wait $secs 0 1" "wait $secs 0 0" "wait $secs 50 15"; do
    "$build/quorvanel-idleprobe" $run 2>"$dir/probe.err" | tail -n 1
    grep -h "underrun" "$dir/probe.err" || true
done
program_rows
[ -n "$only" ] || startup_rows
sh "$root/tools/pulse-server.sh" stop "$dir/pulse"
server=""

[ "$only" = pads ] || [ "$only" = pulse ] || jack_rows
if [ -n "$only" ]; then
    :
elif sh "$root/tools/pipewire-server.sh" setup >/dev/null 2>&1 && sh "$root/tools/pipewire-server.sh" check; then
    mkdir -p "$dir/pipewire"
    eval "$(sh "$root/tools/pipewire-server.sh" start "$dir/pipewire")"
    server=pipewire
    program_rows
    sh "$root/tools/pipewire-server.sh" stop "$dir/pipewire"
    server=""
else
    echo "pipewire: not measured (tools/pipewire-server.sh setup could not install what it needs)"
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
cat "$table"
