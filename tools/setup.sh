#!/bin/sh
# Installs the Debian packages that building, running and testing need and
# that this machine lacks. Runs apt-get as root, or through sudo.
set -e
PKGS="g++ cmake make pkg-config libx11-dev libxtst-dev libasound2-dev libusb-1.0-0-dev
libgtest-dev libgmock-dev googletest libbenchmark-dev xvfb xauth xdotool x11-apps imagemagick sox
alsa-utils pulseaudio pulseaudio-utils libasound2-plugins clang libclang-rt-dev
libsdl2-dev libpng-dev desktop-file-utils man-db groff-base dpkg-dev file lintian
lv2-dev liblilv-dev lilv-utils sordi libsamplerate0-dev jalv jackd2 libjack-jackd2-dev ardour
libqt5x11extras5 fluidsynth timgm6mb-soundfont"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing" >&2
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
