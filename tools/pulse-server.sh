#!/bin/sh
# A private PulseAudio server with one null sink "q", for tests and
# measurements that play to a real sound server.
#
#   tools/pulse-server.sh start DIR [LEVEL]   starts it under DIR, prints
#                       the shell exports a client needs (eval them); it logs
#                       to DIR/pulse.log at LEVEL (0..4, default the server's
#                       own; 4 logs "Implicit underrun" whenever a stream runs
#                       dry)
#   tools/pulse-server.sh stop DIR            stops it
#
# Clients get HOME=DIR/home, whose .asoundrc points ALSA's "default" at the
# server (tests/standalone/alsa/pulse.asoundrc), and never start a server of their
# own. `parec -d q.monitor` records what reached the sink.
#
# The sink is kept at a unit's latency, as a sound card's sink would serve a
# new stream. Left idle, a null sink runs at its largest latency, 2 s, and
# renders that far ahead; a new stream can pull it back by no more than its
# own latency (the program asks for one unit, 11.6 ms), so the stream's
# first request waited for the rest of those 2 s: the program made no unit
# for up to 2 s after its start. (A sound card's sink rewinds its whole
# buffer for a new stream.) A stream of silence asking for 46 ms holds the
# sink at 11.5 ms. It plays at the sink's own rate, so the server only mixes
# it: about 1% of a core for the server and 0.5% for pacat on a quiet
# machine. (A stream that sent nothing would cost less, but a stream that
# is always dry made the program's --latency 23 stream run dry too.)
set -e
cmd=$1
dir=$2
level=$3
[ -n "$dir" ] || { echo "usage: $0 start|stop DIR [LEVEL]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
case "$cmd" in
start)
    mkdir -p "$dir/run" "$dir/home"
    chmod 700 "$dir/run"
    cp "$root/tests/standalone/alsa/pulse.asoundrc" "$dir/home/.asoundrc"
    echo "autospawn = no" > "$dir/client.conf"
    XDG_RUNTIME_DIR="$dir/run" HOME="$dir/home" pulseaudio --daemonize=yes \
        --exit-idle-time=-1 -n --log-target=file:"$dir/pulse.log" --log-time=1 ${level:+--log-level=$level} \
        --load="module-null-sink sink_name=q rate=44100" \
        --load="module-native-protocol-unix auth-anonymous=1" 2>/dev/null
    i=0
    while [ ! -S "$dir/run/pulse/native" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
    [ -S "$dir/run/pulse/native" ] || { echo "pulse-server: no server socket" >&2; exit 1; }
    export PULSE_SERVER="unix:$dir/run/pulse/native" PULSE_CLIENTCONFIG="$dir/client.conf" HOME="$dir/home"
    # The keeper joins a suspended sink, which then starts at its latency:
    # it would otherwise wait out the 2 s the idle sink rendered ahead.
    pactl suspend-sink q 1
    pacat --client-name=keeper --stream-name=keeper --latency-msec=46 --rate=44100 --channels=2 \
        --format=s16le --raw /dev/zero >/dev/null 2>&1 &
    echo $! >"$dir/keeper.pid"
    i=0
    until pactl list short sink-inputs 2>/dev/null | grep -q . || [ $i -ge 100 ]; do
        sleep 0.05
        i=$((i + 1))
    done
    pactl suspend-sink q 0
    echo "export HOME='$dir/home' PULSE_SERVER='unix:$dir/run/pulse/native' PULSE_CLIENTCONFIG='$dir/client.conf'"
    ;;
stop)
    kill "$(cat "$dir/keeper.pid" 2>/dev/null)" 2>/dev/null || true
    pid=$(cat "$dir/run/pulse/pid" 2>/dev/null || true)
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
    fi
    ;;
*)
    echo "usage: $0 start|stop DIR [LEVEL]" >&2
    exit 2
    ;;
esac
