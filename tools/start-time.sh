#!/bin/sh
# How soon the program sounds after its window maps, through each sound
# server, under a private X server. Run by hand after a build:
#
#   tools/start-time.sh [RUNS [BUILD_DIR]]      (defaults: 5, build)
#
# Each run is quorvanel-startprobe (tools/startprobe.cpp): the program
# starts with no patch, a key goes to its window 150 ms after the window
# mapped, and the take tells when the first unit was made and at which frame
# the key landed. Servers: a private PulseAudio server with a null sink
# (tools/pulse-server.sh), a private PipeWire server through PipeWire's own
# ALSA plugin (tools/pipewire-server.sh, which installs what it needs), and a plain ALSA device, the file
# plugin writing to ALSA's null device (tests/standalone/alsa/capture.asoundrc),
# which takes every write at once, so only its first unit is timed.
#
# One line per server: the median and the largest first_unit_ms (window map
# to the end of the first unit); through the servers also the range of
# frame0_ms (when frame 0 was made, by the frame the key landed at: the
# key's time less its frame's) and the key's frames (150 ms is frame 3307);
# and the 1-minute load average at the end.
set -e
runs=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${2:-$root/build}" && pwd)
sh "$root/tools/setup.sh" test
if [ -z "$DISPLAY" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$runs" "$build"
fi
dir=$(mktemp -d /tmp/quorvanel-start-XXXXXX)
server=""
cleanup() {
    [ -n "$server" ] && sh "$root/tools/$server-server.sh" stop "$dir/$server"
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# probe NAME [paced]: RUNS runs in this environment, then the line for NAME;
# the key's frames only where the device plays at its rate.
probe() {
    i=0
    : >"$dir/runs"
    while [ $i -lt "$runs" ]; do
        "$build/quorvanel-startprobe" 150 "$build/quorvanel" >>"$dir/runs" || echo "failed" >>"$dir/runs"
        i=$((i + 1))
    done
    awk -v name="$1" -v paced="$2" -v load="$(cut -d' ' -f1 /proc/loadavg)" '
        function field(k,   i, kv) { for (i = 1; i <= NF; i++) { split($i, kv, "="); if (kv[1] == k) return kv[2] } }
        function sort(a, n,   i, j, t) { for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t } }
        /failed/ { failed++; next }
        { n++; u[n] = field("first_unit_ms") + 0; f[n] = field("frame0_ms") + 0; k = k " " field("key_frame") }
        END { sort(u, n); sort(f, n); m = int((n + 1) / 2)
              printf "%-10s first unit median %s ms, largest %s ms", name, n ? u[m] : "-", n ? u[n] : "-"
              if (paced) printf "; frame 0 at %s .. %s ms; key frames%s", n ? f[1] : "-", n ? f[n] : "-", k
              printf "; %d failed; load %s\n", failed, load }' "$dir/runs"
}

server=pulse
(eval "$(sh "$root/tools/pulse-server.sh" start "$dir/pulse")" && probe PulseAudio paced)
sh "$root/tools/pulse-server.sh" stop "$dir/pulse"
server=""

if sh "$root/tools/pipewire-server.sh" setup >/dev/null 2>&1 && sh "$root/tools/pipewire-server.sh" check; then
    server=pipewire
    (eval "$(sh "$root/tools/pipewire-server.sh" start "$dir/pipewire")" && probe PipeWire paced)
    sh "$root/tools/pipewire-server.sh" stop "$dir/pipewire"
    server=""
else
    echo "PipeWire   not measured: tools/pipewire-server.sh setup could not install what it needs"
fi

mkdir -p "$dir/alsa"
cp "$root/tests/standalone/alsa/capture.asoundrc" "$dir/alsa/.asoundrc"
(HOME="$dir/alsa" && export HOME && probe "ALSA file")
