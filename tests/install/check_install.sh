#!/usr/bin/env bash
# Installs a built tree into a scratch prefix and checks that the program,
# its guide, the desktop entry and the icon land where the desktop and the
# program look for them, and that the entry is valid.
# Usage: check_install.sh <build folder>
set -uo pipefail

# Under a display: starts the program with a home of its own and prints the
# X class of each window it shows, one a line.
if [ "${1:-}" = "--window-classes" ]; then
    work="$(mktemp -d "${TMPDIR:-/tmp}/clarivo-wmclass.XXXXXX")"
    export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
           XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    "$2" >"$work/log" 2>&1 &
    pid=$!
    # The main window and the media window come up together; the welcome box after them.
    for _ in $(seq 1 150); do
        [ "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l)" -ge 2 ] && break
        sleep 0.2
    done
    for id in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        xprop -id "$id" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\(.*\)"$/\1/p'
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    rm -rf "$work"
    exit 0
fi

build="$1"
prefix="$(mktemp -d "${TMPDIR:-/tmp}/clarivo-install.XXXXXX")"
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install" >&2; exit 1; }

[ -x "$prefix/bin/Clarivo" ] || fail "no program at bin/Clarivo"
for page in index.html quickstart.html style.css; do
    [ -f "$prefix/share/clarivo/manual/$page" ] || fail "no guide page share/clarivo/manual/$page"
done
# Every picture the pages show came along.
for picture in $(grep -oh 'src="[^"]*"' "$prefix"/share/clarivo/manual/*.html | sed 's/^src="//; s/"$//' | sort -u); do
    [ -f "$prefix/share/clarivo/manual/$picture" ] || fail "the guide shows $picture, which was not installed"
done
[ -f "$prefix/share/icons/hicolor/256x256/apps/clarivo.png" ] || fail "no 256x256 icon"
[ -f "$prefix/share/icons/hicolor/scalable/apps/clarivo.svg" ] || fail "no scalable icon"

entry="$prefix/share/applications/Clarivo.desktop"
if [ -f "$entry" ]; then
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
    else
        fail "desktop-file-validate is missing (package desktop-file-utils)"
    fi
    grep -qx 'Name=Clarivo+' "$entry" || fail "the entry's name is not Clarivo+"
    grep -qx 'Exec=Clarivo %F' "$entry" || fail "the entry does not start Clarivo with the files"
    grep -qx 'Icon=clarivo' "$entry" || fail "the entry does not name the installed icon"
    # Docks group windows under the entry whose StartupWMClass is their X class.
    wmclass="$(sed -n 's/^StartupWMClass=//p' "$entry")"
    [ -n "$wmclass" ] || fail "the entry has no StartupWMClass"
    if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null && command -v xprop >/dev/null; then
        classes="$(xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --window-classes "$prefix/bin/Clarivo")"
        [ -n "$classes" ] || fail "the installed program showed no window"
        while IFS= read -r class; do
            [ "$class" = "$wmclass" ] || fail "a window's X class is '$class', the entry's StartupWMClass '$wmclass'"
        done <<<"$classes"
    else
        fail "xvfb-run, xdotool or xprop is missing (packages xvfb, xdotool, x11-utils)"
    fi
    for type in video/quicktime video/mp4 audio/mp4 audio/x-caf audio/x-wav audio/x-aiff audio/flac audio/mpeg; do
        grep -q "^MimeType=.*$type;" "$entry" || fail "the entry does not offer to open $type"
    done
else
    fail "no desktop entry at share/applications/Clarivo.desktop"
fi

[ $failed -eq 0 ] && echo "PASS"
exit $failed
