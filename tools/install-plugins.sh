#!/bin/sh
# The plugins of a build where hosts look for a user's own, with no root
# needed: ~/.lv2/quorvanel.lv2, ~/.clap/quorvanel.clap and
# ~/.vst3/quorvanel.vst3 (`make install-plugins`, `make uninstall-plugins`).
#
#   tools/install-plugins.sh BUILD           copies BUILD's plugins there,
#                                            replacing what an earlier copy left
#   tools/install-plugins.sh --remove        removes them
#
# HOME names the home folder. Only the plugins the build made are copied.
set -eu
home=${HOME:?}
lv2=$home/.lv2/quorvanel.lv2 clap=$home/.clap/quorvanel.clap vst3=$home/.vst3/quorvanel.vst3
if [ "${1:-}" = --remove ]; then
    rm -rf "$lv2" "$clap" "$vst3"
    echo "removed $lv2, $clap and $vst3"
    exit 0
fi
build=${1:?usage: $0 BUILD | --remove}
[ -d "$build/lv2/quorvanel.lv2" ] || { echo "$0: $build has no plugins (build them first: make build)" >&2; exit 1; }
mkdir -p "$home/.lv2"
rm -rf "$lv2"
cp -R "$build/lv2/quorvanel.lv2" "$lv2"
echo "$lv2"
if [ -e "$build/clap/quorvanel.clap" ]; then
    mkdir -p "$home/.clap" "$home/.vst3"
    rm -rf "$clap" "$vst3"
    cp "$build/clap/quorvanel.clap" "$clap"
    cp -R "$build/vst3/quorvanel.vst3" "$vst3"
    echo "$clap"
    echo "$vst3"
fi
