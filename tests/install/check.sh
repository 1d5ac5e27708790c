#!/bin/sh
# The front door, checked as a user meets it (run by ctest):
#
#   check.sh install BUILD   installs BUILD into a temporary DESTDIR with the
#                            prefix /usr/local, checks what landed (desktop
#                            entry, manual pages, a render by the installed
#                            program), then uninstalls and checks that
#                            nothing of it is left
#   check.sh demo BUILD      renders the demo performance and checks that
#                            every 5-second stretch sounds, on both sides,
#                            without clipping
#   check.sh layers BUILD    the hosts lean on the core and src/hostkit, not
#                            on each other: no host folder includes another
#                            host's, and the renderer and the plugin link no
#                            window, sound or controller library they do not
#                            need (readelf -d)
#   check.sh deb BUILD       packs BUILD into a Debian package and checks its
#                            dependencies, that it holds exactly what the
#                            install rules install with the prefix /usr, that
#                            lintian finds no error, and that its renderer
#                            renders the demo as BUILD's does
set -u
mode=$1
build=$(cd "$2" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
failed=0
fail() { echo "FAIL: $*" >&2; failed=$((failed + 1)); }

# The tests' installs must not take the place of the user's own record of
# what `make install` wrote, which `make uninstall` reads.
keep_manifest() {
    manifest="$build/install_manifest.txt"
    [ -e "$manifest" ] && cp "$manifest" "$tmp/manifest.saved"
    trap 'if [ -e "$tmp/manifest.saved" ]; then cp "$tmp/manifest.saved" "$manifest"; else rm -f "$manifest"; fi; rm -rf "$tmp"' EXIT
}

# render_demo RENDERER SHARE OUT.wav: the demo performance, from SHARE's
# patches/ and scripts/
render_demo() {
    "$1" -p "$2/patches/demo.texte" "$2/scripts/demo.txt" "$3" 2>"$tmp/render.err" ||
        { cat "$tmp/render.err" >&2; return 1; }
}

# peak and RMS amplitude (0..1) of FILE, with sox's further effects
levels() {
    f=$1
    shift
    sox "$f" -n "$@" stat 2>&1 | awk '/^Maximum amplitude/ { p = $3 } /^RMS +amplitude/ { r = $3 }
        END { print p + 0, r + 0 }'
}

case "$mode" in
install)
    keep_manifest
    root=$tmp/root
    p=$root/usr/local
    DESTDIR=$root cmake --install "$build" --prefix /usr/local >"$tmp/install.log" 2>&1 ||
        { cat "$tmp/install.log" >&2; fail "cmake --install failed"; exit 1; }

    for f in bin/quorvanel bin/quorvanel-render share/man/man1/quorvanel.1.gz \
        share/man/man1/quorvanel-render.1.gz share/applications/quorvanel.desktop \
        share/icons/hicolor/scalable/apps/quorvanel.svg share/icons/hicolor/128x128/apps/quorvanel.png \
        lib/udev/rules.d/70-quorvanel.rules share/quorvanel/patches/demo.texte \
        share/quorvanel/scripts/demo.txt share/quorvanel/patches/justchord.texte \
        share/quorvanel/scripts/justchord.txt share/quorvanel/scripts/square.txt; do
        [ -s "$p/$f" ] || fail "not installed: $f"
    done
    for f in bin/quorvanel bin/quorvanel-render; do
        [ -x "$p/$f" ] || fail "not executable: $f"
    done
    # The LV2 bundle, where the build made one.
    if [ -d "$build/lv2/quorvanel.lv2" ]; then
        for f in manifest.ttl quorvanel.ttl presets.ttl quorvanel.so quorvanel_ui.so; do
            [ -s "$p/lib/lv2/quorvanel.lv2/$f" ] || fail "not installed: lib/lv2/quorvanel.lv2/$f"
        done
    fi
    # The CLAP and VST3 plugins, where the build made them.
    if [ -d "$build/clap" ]; then
        for f in lib/clap/quorvanel.clap lib/vst3/quorvanel.vst3/Contents/$(uname -m)-linux/quorvanel.so; do
            [ -s "$p/$f" ] || fail "not installed: $f"
        done
    fi
    # The plugins alone in a user's home, where hosts look, and gone again.
    if [ -d "$build/lv2/quorvanel.lv2" ]; then
        HOME=$tmp/home sh "$src/tools/install-plugins.sh" "$build" >/dev/null || fail "install-plugins.sh failed"
        for f in .lv2/quorvanel.lv2/manifest.ttl .lv2/quorvanel.lv2/quorvanel.so \
            $([ -d "$build/clap" ] && echo .clap/quorvanel.clap .vst3/quorvanel.vst3/Contents/$(uname -m)-linux/quorvanel.so); do
            [ -s "$tmp/home/$f" ] || fail "not installed for the user: ~/$f"
        done
        HOME=$tmp/home sh "$src/tools/install-plugins.sh" --remove >/dev/null
        [ -z "$(find "$tmp/home" -type f)" ] || fail "install-plugins.sh --remove left: $(find "$tmp/home" -type f)"
    fi
    # Only the program's own files, and not the benchmark's load.
    find "$root" -type f | sed "s|^$p/||" | grep -v -E '^(bin/quorvanel(-render)?|share/man/man1/quorvanel(-render)?\.1\.gz|share/doc/quorvanel/(copyright|changelog\.gz)|share/applications/quorvanel\.desktop|share/icons/hicolor/[^/]+/apps/quorvanel\.(svg|png)|lib/udev/rules\.d/70-quorvanel\.rules|lib/lv2/quorvanel\.lv2/(manifest|quorvanel|presets)\.ttl|lib/lv2/quorvanel\.lv2/quorvanel(_ui)?\.so|lib/clap/quorvanel\.clap|lib/vst3/quorvanel\.vst3/Contents/[^/]+-linux/quorvanel\.so|share/quorvanel/patches/[^/]+\.texte|share/quorvanel/scripts/[^/]+\.txt)$' \
        >"$tmp/stray"
    [ -s "$tmp/stray" ] && fail "unexpected files installed: $(cat "$tmp/stray")"
    ls "$p/share/quorvanel"/*/fullbank.* >/dev/null 2>&1 && fail "the benchmark's fullbank was installed"

    # The desktop entry is valid and starts a program that was installed.
    out=$(desktop-file-validate "$p/share/applications/quorvanel.desktop" 2>&1) ||
        fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate says: $out"
    exe=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$p/share/applications/quorvanel.desktop")
    [ -x "$p/bin/$exe" ] || fail "the desktop entry runs '$exe', which is not in bin/"

    # Both pages render without a warning, and name every option the
    # programs' own usage names.
    "$p/bin/quorvanel" --help >"$tmp/usage.quorvanel" 2>&1 || fail "quorvanel --help failed"
    "$p/bin/quorvanel-render" --help >"$tmp/usage.quorvanel-render" 2>&1 || fail "quorvanel-render --help failed"
    for page in quorvanel quorvanel-render; do
        MANWIDTH=80 man --warnings -l "$p/share/man/man1/$page.1.gz" >"$tmp/$page.txt" 2>"$tmp/$page.err" ||
            fail "man cannot render $page.1"
        [ -s "$tmp/$page.err" ] && fail "man warns about $page.1: $(cat "$tmp/$page.err")"
        grep -q '^EXIT STATUS' "$tmp/$page.txt" || fail "$page.1 has no EXIT STATUS"
        for opt in $(grep -o -E '(^|[[ ])--?[a-z][a-z-]*' "$tmp/usage.$page" | tr -d '[ ' | sort -u); do
            grep -q -e "$opt" "$tmp/$page.txt" || fail "$page.1 does not name $opt"
        done
    done

    # The installed renderer plays an installed script into sound.
    "$p/bin/quorvanel-render" -p "$p/share/quorvanel/patches/justchord.texte" -n 2 \
        "$p/share/quorvanel/scripts/justchord.txt" "$tmp/chord.wav" 2>"$tmp/render.err" ||
        fail "the installed quorvanel-render failed: $(cat "$tmp/render.err")"
    # 2 s: 44100 frames of 4 bytes after the 44-byte header.
    size=$(wc -c <"$tmp/chord.wav")
    [ "$size" -eq 176444 ] || fail "the render has $size bytes, not 176444"
    set -- $(levels "$tmp/chord.wav")
    awk -v p="$1" 'BEGIN { exit !(p > 0.05) }' || fail "the installed render is silent (peak $1)"

    # Uninstalling removes every file and the program's own folders.
    DESTDIR=$root cmake -P "$build/uninstall.cmake" >"$tmp/uninstall.log" 2>&1 ||
        fail "uninstall failed: $(cat "$tmp/uninstall.log")"
    left=$(find "$root" -type f)
    [ -z "$left" ] || fail "left after uninstall: $left"
    left=$(find "$root" -name 'quorvanel*')
    [ -z "$left" ] || fail "left after uninstall: $left"
    ;;
demo)
    trap 'rm -rf "$tmp"' EXIT
    render_demo "$build/quorvanel-render" "$src" "$tmp/demo.wav" || { fail "the demo does not render"; exit 1; }
    seconds=$(soxi -D "$tmp/demo.wav")
    awk -v s="$seconds" 'BEGIN { exit !(s >= 30 && s <= 35) }' || fail "the demo lasts $seconds s, not about 30"
    # Floors well below what it measures (peaks 0.19..0.27, RMS 0.08..0.13
    # in every stretch); a clip at the top would be a fault too.
    for start in 0 5 10 15 20 25; do
        set -- $(levels "$tmp/demo.wav" trim "$start" 5)
        awk -v p="$1" -v r="$2" 'BEGIN { exit !(p > 0.1 && r > 0.03 && p < 0.9) }' ||
            fail "demo $start..$((start + 5)) s: peak $1, RMS $2 (wanted peak 0.1..0.9, RMS above 0.03)"
    done
    for side in 1 2; do
        set -- $(levels "$tmp/demo.wav" remix "$side")
        awk -v r="$2" 'BEGIN { exit !(r > 0.03) }' || fail "the demo's channel $side is nearly silent (RMS $2)"
    done
    ;;
deb)
    keep_manifest
    cmake -DBUILD="$build" -DOUT="$tmp/out" -P "$src/tools/deb.cmake" >"$tmp/cpack.log" 2>&1 ||
        { cat "$tmp/cpack.log" >&2; fail "the package does not build"; exit 1; }
    deb=$(echo "$tmp/out"/*.deb)
    dpkg-deb --info "$deb" >"$tmp/info" || { fail "not one package: $deb"; exit 1; }
    field() { sed -n "s/^ $1: //p" "$tmp/info"; }
    name=quorvanel_$(field Version)_$(dpkg --print-architecture).deb
    [ "${deb##*/}" = "$name" ] || fail "the package is ${deb##*/}, not $name"
    # Sound, window, USB hand controller, game controllers.
    field Depends | tr ',' '\n' | sed 's/^ *\([^ ]*\).*/\1/' >"$tmp/depends"
    for lib in libasound2 libx11-6 libusb-1.0-0 libsdl2-2.0-0; do
        grep -qx "$lib" "$tmp/depends" || fail "Depends lacks $lib: $(field Depends)"
    done

    # Exactly the files that installing this build with the prefix /usr writes.
    DESTDIR=$tmp/root cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1 ||
        { cat "$tmp/install.log" >&2; fail "cmake --install failed"; exit 1; }
    sort "$manifest" >"$tmp/installed"
    dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print substr($6, 2) }' | sort >"$tmp/packed"
    diff "$tmp/installed" "$tmp/packed" >"$tmp/contents.diff" ||
        fail "the package's files (>) differ from the installed ones (<): $(cat "$tmp/contents.diff")"

    lintian --fail-on error "$deb" >"$tmp/lintian" 2>&1 || fail "lintian: $(cat "$tmp/lintian")"

    dpkg-deb -x "$deb" "$tmp/x" || fail "dpkg-deb -x failed"
    render_demo "$tmp/x/usr/bin/quorvanel-render" "$tmp/x/usr/share/quorvanel" "$tmp/packed.wav" &&
        render_demo "$build/quorvanel-render" "$src" "$tmp/built.wav" &&
        cmp -s "$tmp/packed.wav" "$tmp/built.wav" || fail "the package's renderer renders the demo differently"
    ;;
layers)
    # FOLDER: the folders under src/ its files may include from.
    for rule in "core:core" "hostkit:core hostkit" "standalone:core hostkit standalone" \
        "render:core hostkit render" "plugin:core hostkit plugin"; do
        folder=${rule%%:*}
        grep -rHo '#include "[a-z]*/' "$src/src/$folder" | sed 's|#include "||; s|/$||' >"$tmp/includes"
        for allowed in ${rule#*:} engine lattice voice sound; do
            grep -v ":$allowed\$" "$tmp/includes" >"$tmp/left"
            mv "$tmp/left" "$tmp/includes"
        done
        [ -s "$tmp/includes" ] && fail "src/$folder includes from another host: $(sed "s|^$src/||" "$tmp/includes" | sort -u | tr '\n' ' ')"
    done
    # FILE:LIBRARIES it must not need.
    for rule in "quorvanel-render:SDL2 X11 xcb asound usb" \
        "lv2/quorvanel.lv2/quorvanel.so:SDL2 X11 xcb asound usb png" \
        "lv2/quorvanel.lv2/quorvanel_ui.so:SDL2 asound usb png"; do
        file=$build/${rule%%:*}
        case "$file" in *.so) [ -e "$file" ] || continue ;; esac  # no LV2 headers: no plugin
        readelf -d "$file" >"$tmp/dynamic" 2>&1 || { fail "readelf -d ${rule%%:*}: $(cat "$tmp/dynamic")"; continue; }
        grep -q NEEDED "$tmp/dynamic" || fail "${rule%%:*} needs no library at all: not what readelf should show"
        for lib in ${rule#*:}; do
            grep -E "NEEDED.*\[lib$lib[-.0-9]" "$tmp/dynamic" &&
                fail "${rule%%:*} needs lib$lib"
        done
    done
    ;;
*)
    echo "usage: $0 install|demo|layers|deb BUILD" >&2
    exit 2
    ;;
esac
[ "$failed" -eq 0 ] || exit 1
echo "$mode: ok"
