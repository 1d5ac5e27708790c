#!/bin/sh
# The bundle as the LV2 tools see it: lv2_validate finds no error in its
# files, and lv2ls lists the plugin as an instrument.
#   validate.sh BUNDLE_DIR
set -e
bundle="$1"
report=$(lv2_validate "$bundle"/*.ttl 2>&1)
echo "$report" | tail -1
echo "$report" | grep -q "^Found 0 errors" || { echo "$report" | grep -i "error" >&2; exit 1; }
# The LV2 specifications (the plugin classes) come from the system path.
export LV2_PATH="$(dirname "$bundle"):/usr/lib/lv2"
lv2ls | grep -qx "urn:quorvanel:instrument" || { echo "lv2ls does not list the plugin" >&2; exit 1; }
lv2info urn:quorvanel:instrument | grep -q "Class: *Instrument Plugin" || { echo "not an instrument" >&2; exit 1; }
echo "lv2ls lists urn:quorvanel:instrument, an Instrument Plugin"
