#!/bin/sh
# Installs the Debian packages that this machine lacks for one purpose, and
# nothing else. Runs apt-get as root, or through sudo.
#
#   tools/setup.sh [run]   building and running the program (`make run`,
#                          `make demo`): compiler, CMake, the libraries it
#                          links (JACK and liblo for --jack and session
#                          managers), ALSA's PulseAudio plugin for a
#                          desktop's sound
#   tools/setup.sh all     also the renderer's, the plugin's and the
#                          package's (`make build`, `make install`, `make deb`)
#   tools/setup.sh test    also everything the tests run (`make test`): test
#                          and benchmark libraries, the private X and sound
#                          servers, the plugin hosts (jalv, JACK, Ardour),
#                          clang for the sanitizers and the fuzzers, lintian
#   tools/setup.sh pipewire   what tools/pipewire-server.sh runs (measurements
#                          only): PipeWire, its session manager, a D-Bus
#
# pipewire-alsa is never installed: it conflicts with pulseaudio, which the
# tests run, and would make PipeWire every ALSA program's default;
# tools/pipewire-server.sh unpacks its plugin where only it looks.
set -e
run="g++ cmake make pkg-config libx11-dev libasound2-dev libusb-1.0-0-dev libsdl2-dev libpng-dev
libjack-jackd2-dev liblo-dev libasound2-plugins"
all="$run lv2-dev dpf-source dpkg-dev file"
test="$all libgtest-dev libgmock-dev googletest libbenchmark-dev xvfb xauth xdotool x11-apps libxtst-dev
imagemagick sox alsa-utils pulseaudio pulseaudio-utils clang libclang-rt-dev desktop-file-utils man-db
groff-base lintian liblilv-dev lilv-utils sordi jalv jackd2 ardour libqt5x11extras5
fluidsynth timgm6mb-soundfont"
case "${1:-run}" in
run) PKGS=$run ;;
all) PKGS=$all ;;
test) PKGS=$test ;;
pipewire) PKGS="pipewire pipewire-bin wireplumber dbus-daemon" ;;
*) echo "usage: $0 [run|all|test|pipewire]" >&2; exit 2 ;;
esac
# One query for every package: this runs before each `make run`.
# shellcheck disable=SC2086
missing=$(dpkg-query -W -f='${db:Status-Status} ${Package}\n' $PKGS 2>/dev/null |
    awk '$1 == "installed" { have[$2] = 1 } END { n = split(wanted, w, " "); for (i = 1; i <= n; i++) if (!have[w[i]]) printf " %s", w[i] }' \
        wanted="$(echo $PKGS)")
[ -z "$missing" ] && exit 0
echo "installing:$missing" >&2
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
