#!/usr/bin/env bash
# Installs a built tree into a scratch prefix and checks that the program,
# its guide, the desktop entry and the icon land where the desktop and the
# program look for them, and that the entry is valid.
# Usage: check_install.sh <build folder>
set -uo pipefail
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
    for type in video/quicktime video/mp4 audio/mp4 audio/x-caf audio/x-wav audio/x-aiff audio/flac audio/mpeg; do
        grep -q "^MimeType=.*$type;" "$entry" || fail "the entry does not offer to open $type"
    done
else
    fail "no desktop entry at share/applications/Clarivo.desktop"
fi

[ $failed -eq 0 ] && echo "PASS"
exit $failed
