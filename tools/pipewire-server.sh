#!/bin/sh
# A private PipeWire server (with its session manager and a private D-Bus
# for it) and one null sink "q", for measurements through PipeWire's own
# ALSA plugin. Not used by the tests: PipeWire is no build dependency.
#
#   tools/pipewire-server.sh setup       installs what it needs (tools/setup.sh
#                                        pipewire) and unpacks the ALSA plugin
#                                        of pipewire-alsa into a cache of its own
#   tools/pipewire-server.sh check       exits 0 when everything it needs
#                                        is there (pipewire, wireplumber and
#                                        the ALSA plugin of pipewire-alsa)
#   tools/pipewire-server.sh start DIR   starts it under DIR, prints the
#                                        shell exports a client needs (eval
#                                        them); the server's pid is in
#                                        DIR/pipewire.pid
#   tools/pipewire-server.sh stop DIR    stops it
#
# Clients get HOME=DIR/home, whose .asoundrc points ALSA's "default" at the
# server through the pipewire plugin, whatever the system's default is.
#
# Installing pipewire-alsa makes PipeWire the default of every ALSA program
# on the machine, tests included, and removes pulseaudio, which the tests
# run. `setup` instead unpacks the package where nothing else looks (the
# cache below); PIPEWIRE_ALSA_PLUGIN_DIR names another folder holding
# libasound_module_pcm_pipewire.so.
set -e
cmd=$1
dir=$2
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quorvanel/pipewire-alsa
find_plugin() {
    plugin=""
    for d in $PIPEWIRE_ALSA_PLUGIN_DIR /usr/lib/$(uname -m)-linux-gnu/alsa-lib /usr/lib/alsa-lib /usr/lib64/alsa-lib \
        "$cache/usr/lib/$(uname -m)-linux-gnu/alsa-lib"; do
        if [ -e "$d/libasound_module_pcm_pipewire.so" ]; then plugin="$d/libasound_module_pcm_pipewire.so"; break; fi
    done
}
find_plugin
case "$cmd" in
setup)
    sh "$root/tools/setup.sh" pipewire
    if [ -z "$plugin" ]; then
        mkdir -p "$cache"
        work=$(mktemp -d)
        (cd "$work" && apt-get download pipewire-alsa >/dev/null 2>&1 && dpkg-deb -x pipewire-alsa_*.deb "$cache")
        rm -rf "$work"
        find_plugin
        [ -n "$plugin" ] || { echo "pipewire-server: could not unpack pipewire-alsa's plugin" >&2; exit 1; }
    fi
    ;;
check)
    command -v pipewire >/dev/null && command -v wireplumber >/dev/null &&
        command -v pw-cli >/dev/null && command -v dbus-daemon >/dev/null && [ -n "$plugin" ]
    ;;
start)
    [ -n "$dir" ] || { echo "usage: $0 setup|check|start DIR|stop DIR" >&2; exit 2; }
    mkdir -p "$dir/run" "$dir/home"
    chmod 700 "$dir/run"
    [ -n "$plugin" ] || { echo "pipewire-server: no pipewire ALSA plugin" >&2; exit 1; }
    cat >"$dir/home/.asoundrc" <<EOF
pcm_type.pipewire {
    lib "$plugin"
}
pcm.!default {
    type pipewire
}
EOF
    export XDG_RUNTIME_DIR="$dir/run" HOME="$dir/home"
    bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=3 3>"$dir/dbus.pid")
    export DBUS_SESSION_BUS_ADDRESS="$bus"
    pipewire >"$dir/pipewire.log" 2>&1 &
    echo $! >"$dir/pipewire.pid"
    i=0
    while [ ! -S "$dir/run/pipewire-0" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
    [ -S "$dir/run/pipewire-0" ] || { echo "pipewire-server: no server socket" >&2; exit 1; }
    wireplumber >"$dir/wireplumber.log" 2>&1 &
    echo $! >"$dir/wireplumber.pid"
    pw-cli create-node adapter '{ factory.name=support.null-audio-sink node.name=q
        media.class=Audio/Sink object.linger=true audio.position=[FL FR] }' >/dev/null
    # The session manager makes the null sink the default once it sees it.
    i=0
    while ! wpctl inspect @DEFAULT_AUDIO_SINK@ 2>/dev/null | grep -q 'node.name = "q"' && [ $i -lt 100 ]; do
        sleep 0.05
        i=$((i + 1))
    done
    echo "export HOME='$dir/home' XDG_RUNTIME_DIR='$dir/run' DBUS_SESSION_BUS_ADDRESS='$bus'"
    ;;
stop)
    [ -n "$dir" ] || { echo "usage: $0 setup|check|start DIR|stop DIR" >&2; exit 2; }
    for name in wireplumber pipewire dbus; do
        pid=$(cat "$dir/$name.pid" 2>/dev/null || true)
        [ -n "$pid" ] || continue
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
    done
    ;;
*)
    echo "usage: $0 setup|check|start DIR|stop DIR" >&2
    exit 2
    ;;
esac
