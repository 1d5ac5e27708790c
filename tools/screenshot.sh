#!/bin/sh
# Takes a PNG screenshot of the running instrument under a private X server.
#
#   tools/screenshot.sh [--play SCRIPT [--until FRAME]] OUT.png [PATCH]
#
# Starts build/quorvanel (with PATCH if given) under Xvfb, sound going to a
# file device over ALSA's null device, plays a few keys and clicks with
# xdotool (three situations, ratio routing and FM switched on, some matrix
# cells set), has the window repainted and saves it as OUT.png.
#
# With --play the program plays SCRIPT instead of the keys and clicks (only
# its events before FRAME with --until): the null device takes sound as
# fast as it comes, so the script is over at once and the picture shows the
# instrument as the script leaves it, at FRAME.
#
# BUILD names the build folder to take the program from (default: build).
set -e
usage() { echo "usage: $0 [--play SCRIPT [--until FRAME]] OUT.png [PATCH]" >&2; exit 2; }
script=""
until=""
while [ $# -gt 0 ]; do
    case "$1" in
    --play) [ $# -ge 2 ] || usage; script=$2; shift 2 ;;
    --until) [ $# -ge 2 ] || usage; until=$2; shift 2 ;;
    -*) usage ;;
    *) break ;;
    esac
done
out=$1
patch=$2
[ -n "$out" ] || usage
[ -z "$until" ] || [ -n "$script" ] || usage
root=$(cd "$(dirname "$0")/.." && pwd)
case "$out" in /*) ;; *) out="$(pwd)/$out" ;; esac
case "$patch" in ""|/*) ;; *) patch="$(pwd)/$patch" ;; esac
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ -n "$script" ]; then
    [ -r "$script" ] || { echo "screenshot: cannot read $script" >&2; exit 2; }
    # Comments and blank lines go; events from FRAME on are left out.
    awk -v until="$until" '$1 !~ /^#/ && NF && (until == "" || $1 + 0 < until + 0)' \
        "$script" > "$tmp/play.txt"
    set -- --play "$tmp/play.txt"
else
    set --
fi
cat > "$tmp/.asoundrc" <<'RC'
pcm.!default { type file slave.pcm "null" file "/dev/null" format "raw" }
RC
cat > "$tmp/shoot.sh" <<'SHOT'
set -e
cd "$TMPDIR_SHOT"
HOME="$TMPDIR_SHOT" "$ROOT/$BUILD/quorvanel" $PLAY $PATCH >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null' EXIT
w=""
for i in $(seq 50); do
    w=$(xdotool search --name '^quorvanel$' 2>/dev/null | head -1) && [ -n "$w" ] && break
    sleep 0.1
done
[ -n "$w" ] || { echo "screenshot: no window" >&2; exit 1; }
# Unmapping and mapping again sends an Expose, which repaints.
repaint() {
    xdotool windowunmap --sync "$w"
    xdotool windowmap --sync "$w"
    sleep 0.3
}
sleep 0.5
if [ -n "$PLAY" ]; then
    # The script has played out by now (see above); give it a moment more.
    sleep 1
elif [ -z "$PATCH" ]; then
    # Two more situations; routing and FM on in all three (the keys reach
    # every situation of the bank).
    for k in Return Return a q; do xdotool key --window "$w" "$k"; sleep 0.05; done
    # The marks are placed by drawing, so a repaint must come before clicks.
    repaint
    # Rows are 125 px high with three situations: the first row's voice 0
    # numerator box spans (62, 44)..(143, 125), voice 1's denominator box
    # (106, 125)..(187, 206), and the second row's voice 2 denominator box
    # (231, 250)..(312, 331).
    for xy in "80 62" "72 62" "75 121" "135 52" "124 143" "294 313"; do
        set -- $xy
        xdotool mousemove --window "$w" "$1" "$2" click 1
        sleep 0.05
    done
fi
repaint
xwd -silent -id "$w" | convert xwd:- "$OUT"
SHOT
TMPDIR_SHOT="$tmp" ROOT="$root" BUILD="${BUILD:-build}" PATCH="$patch" PLAY="$*" OUT="$out" \
    xvfb-run -a -s "-screen 0 1024x768x24" sh "$tmp/shoot.sh" 2>&1 | grep -v XGetInputFocus >&2 || true
[ -s "$out" ] || { echo "screenshot: nothing written" >&2; exit 1; }
echo "$out"
