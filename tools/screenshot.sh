#!/bin/sh
# Takes a PNG screenshot of the running instrument under a private X server.
#
#   tools/screenshot.sh OUT.png [PATCH]
#
# Starts build/quorvanel (with PATCH if given) under Xvfb, sound going to a
# file device over ALSA's null device, plays a few keys and clicks with
# xdotool (three situations, ratio routing and FM switched on, some matrix
# cells set), has the window repainted and saves it as OUT.png.
set -e
out=$1
patch=$2
[ -n "$out" ] || { echo "usage: $0 OUT.png [PATCH]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
case "$out" in /*) ;; *) out="$(pwd)/$out" ;; esac
case "$patch" in ""|/*) ;; *) patch="$(pwd)/$patch" ;; esac
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat > "$tmp/.asoundrc" <<'RC'
pcm.!default { type file slave.pcm "null" file "/dev/null" format "raw" }
RC
cat > "$tmp/shoot.sh" <<'SHOT'
set -e
cd "$TMPDIR_SHOT"
HOME="$TMPDIR_SHOT" "$ROOT/build/quorvanel" $PATCH >/dev/null 2>&1 &
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
if [ -z "$PATCH" ]; then
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
TMPDIR_SHOT="$tmp" ROOT="$root" PATCH="$patch" OUT="$out" \
    xvfb-run -a -s "-screen 0 1024x768x24" sh "$tmp/shoot.sh" 2>&1 | grep -v XGetInputFocus >&2 || true
[ -s "$out" ] || { echo "screenshot: nothing written" >&2; exit 1; }
echo "$out"
