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
        --exit-idle-time=-1 -n --log-target=file:"$dir/pulse.log" ${level:+--log-level=$level} \
        --load="module-null-sink sink_name=q" \
        --load="module-native-protocol-unix auth-anonymous=1" 2>/dev/null
    i=0
    while [ ! -S "$dir/run/pulse/native" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
    [ -S "$dir/run/pulse/native" ] || { echo "pulse-server: no server socket" >&2; exit 1; }
    echo "export HOME='$dir/home' PULSE_SERVER='unix:$dir/run/pulse/native' PULSE_CLIENTCONFIG='$dir/client.conf'"
    ;;
stop)
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
