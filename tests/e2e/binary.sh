#!/usr/bin/env bash
# The program as a new user meets it: start it by its name from another
# folder, as the desktop entry does, dismiss the welcome, hand it a file
# from a second launch, close it from another, open the user guide, quit
# with Ctrl+Q.
# Usage: binary.sh <Clarivo executable> <snapshot folder>; run under Xvfb.
set -uo pipefail
clarivo="$(realpath "$1")"
shots="$2"
mkdir -p "$shots"
rm -f "$shots"/*.png

. "$(dirname "$0")/common.sh"
private_home binary
# A stand-in mail helper, first on the PATH, records what sharing hands it.
mkdir -p "$work/bin"
printf '#!/bin/sh\nfor a in "$@"; do printf "%%s\\n" "$a"; done > "%s/email.part"\nmv "%s/email.part" "%s/email.args"\n' \
    "$work" "$work" "$work" > "$work/bin/xdg-email"
chmod +x "$work/bin/xdg-email"
# Email is offered only where a mail program is set up: the desktop names one.
printf '#!/bin/sh\necho mail.desktop\n' > "$work/bin/xdg-mime"
chmod +x "$work/bin/xdg-mime"
export PATH="$work/bin:$PATH"
pid=""

fail() {
    echo "FAIL: $*" >&2
    shot failure
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$work"
    exit 1
}
step=0
shot() {
    step=$((step + 1))
    import -window root "$shots/$(printf '%02d' "$step")-$1.png" 2>/dev/null || true
}
# Runs a second launch; fails unless it exits 0 within 5 s.
second_launch() {
    local before after status
    before="$(xdotool search --onlyvisible --name '.' 2>/dev/null | wc -l)"
    timeout 5 "$clarivo" "$@"
    status=$?
    [ $status -eq 0 ] || fail "second launch '$*' ended with $status"
    after="$(xdotool search --onlyvisible --name '.' 2>/dev/null | wc -l)"
    [ "$after" -le "$before" ] || fail "second launch '$*' left a window of its own"
}
media_title() { xdotool getwindowname "$media"; }
# Closes the media from a second launch without a path, answering the
# question about changes if it comes ($1 names its shot).
close_media() {
    second_launch
    local deadline=$((SECONDS + 20))
    # The close empties the title before the window is placed again as the
    # player: wait for it to settle.
    while [ "$(media_title)" != "Media Player" ]; do
        # The close may ask whether to keep the changes.
        if question="$(window_named "Apply Clarivo before closing?" 0)"; then
            shot "$1-question"
            xdotool windowfocus --sync "$question" 2>/dev/null
            xdotool key --clearmodifiers Tab space
        fi
        [ $SECONDS -lt $deadline ] || fail "the media window's title is '$(media_title)' after the close"
        sleep 0.3
    done
}
# Presses key on the box titled $1 until it goes; fails with $3 after 10 s.
dismiss() {
    local box deadline=$((SECONDS + 10))
    box="$(window_named "$1" 1)" && xdotool windowfocus --sync "$box" 2>/dev/null
    while window_named "$1" 0 >/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "$3"
        xdotool key --clearmodifiers "$2"; sleep 0.3
    done
}

ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=3:sample_rate=44100" -ac 2 "$work/clip.wav" \
    || fail "could not make clip.wav"

# The desktop entry runs the bare name, found through PATH, in whatever
# folder the desktop is in; a terminal user does the same.
mkdir -p "$work/elsewhere"
(cd "$work/elsewhere" && export PATH="$(dirname "$clarivo"):$PATH" && exec "$(basename "$clarivo")") >"$work/start.log" 2>&1 &
pid=$!
window_named "Welcome to Clarivo!" 30 >/dev/null || fail "no welcome box"
editor="$(window_named "Clarivo+" 10)" || fail "no editor window"
shot welcome
dismiss "Welcome to Clarivo!" Escape "the welcome box stayed"
window_named "Media Player" 10 >/dev/null || fail "no window titled Media Player"
shot started

second_launch "$work/clip.wav"
media="$(window_named "clip.wav" 20)" || fail "no window titled clip.wav"
shot handed-over

# The web view's child process is started as the program with this option;
# it must never reach the running instance as a second launch (which would
# close the media).
timeout 5 "$clarivo" --juce-gtkwebkitfork-child
[ $? -ne 124 ] || fail "the web view's child start hung"
sleep 1
[ "$(media_title)" = "clip.wav" ] || fail "the web view's child start closed the media"

# A name that is not UTF-8: still one instance, the second launch gone
# within 5 s, and the running one names the file it cannot open.
bad="$work/$(printf 'bad\xff\xfebytes.wav')"
cp "$work/clip.wav" "$bad"
timeout 5 "$clarivo" "$bad"
status=$?
[ $status -eq 0 ] || fail "second launch with a non-UTF-8 name ended with $status"
# The hand-over closes the media first, which may ask about changes.
deadline=$((SECONDS + 20))
until window_named "Failed to open file..." 0 >/dev/null; do
    if question="$(window_named "Apply Clarivo before closing?" 0)"; then
        xdotool windowfocus --sync "$question" 2>/dev/null
        xdotool key --clearmodifiers Tab space
    fi
    [ $SECONDS -lt $deadline ] || fail "no box naming the non-UTF-8 file"
    sleep 0.3
done
sleep 0.5
shot non-utf8-refused
[ "$(xdotool search --onlyvisible --name '^Clarivo\+$' 2>/dev/null | wc -l)" -eq 1 ] || fail "two editor windows"
dismiss "Failed to open file..." Return "the box naming the non-UTF-8 file stayed"
media="$(window_named "Media Player" 20)" || fail "no Media Player after the refusal"

close_media close
shot closed

# Sharing: clip.wav open again, named as a terminal user types it, the
# share button at the bar's right end pressed and "Email" picked; the mail
# helper gets a whole processed WAV.
cd "$work"
second_launch clip.wav
cd - >/dev/null
media="$(window_named "clip.wav" 20)" || fail "no window titled clip.wav to share from"
sleep 2
eval "$(xdotool getwindowgeometry --shell "$media")"
xdotool mousemove $((X + WIDTH - 30)) $((Y + HEIGHT - 24)) click 1
sleep 1
shot share-picker
# The picker opens under the button; "Email" is its first item.
xdotool mousemove $((X + WIDTH - 40)) $((Y + HEIGHT + 2)) click 1
deadline=$((SECONDS + 60))
until [ -f "$work/email.args" ]; do
    [ $SECONDS -lt $deadline ] || fail "the mail helper was never started"
    sleep 0.3
done
shot shared
mapfile -t handed < "$work/email.args"
[ "${#handed[@]}" -eq 2 ] && [ "${handed[0]}" = "--attach" ] || fail "the mail helper got: ${handed[*]}"
copy="${handed[1]}"
[ "$copy" = "$TMPDIR/clarivo.share.$(id -u)/clip-1.wav" ] || fail "shared $copy"
[ "$(ffprobe -v error -show_entries format=format_name -of csv=p=0 "$copy")" = "wav" ] || fail "the shared copy is no WAV"
frames() { ffmpeg -loglevel error -i "$1" -f s16le -ac 2 - | wc -c; }
[ "$(frames "$copy")" = "$(frames "$work/clip.wav")" ] || fail "the shared copy is not as long as clip.wav"
sum() { ffmpeg -loglevel error -i "$1" -f s16le -ac 2 - | md5sum; }
[ "$(sum "$copy")" != "$(sum "$work/clip.wav")" ] || fail "the shared copy is clip.wav unprocessed"
close_media share-close

# The user guide, from its shortcut, shows the manual shipped beside the
# program: no network is needed.
xdotool windowfocus --sync "$media" 2>/dev/null
xdotool key --clearmodifiers ctrl+g
guide="$(window_named "Clarivo User Guide" 10)" || fail "Ctrl+G opened no user guide"
# The web view starts in a process of its own and then draws the page:
# the guide's dark title band, which neither an empty view nor a page of
# our own about a missing file has, fills a good part of the window.
deadline=$((SECONDS + 20))
while :; do
    sleep 1
    import -window root "$work/guide.png" 2>/dev/null
    eval "$(xdotool getwindowgeometry --shell "$guide")"
    band="$(convert "$work/guide.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
        -fuzz 2% -fill black +opaque '#1c2a3c' -fill white -opaque '#1c2a3c' -format '%[fx:round(mean*w*h)]' info:)"
    [ "${band:-0}" -ge 20000 ] && break
    [ $SECONDS -lt $deadline ] || fail "the user guide shows no page (${band:-no} pixels of its title band)"
done
shot user-guide
pgrep -P "$pid" -f -- '--juce-gtkwebkitfork-child' >/dev/null || fail "no web view process of the program's own runs"

quits_within "$media" 5
shot quit
# No JACK server runs here, as on most desktops: the device scan must not
# fill the terminal with the client library's complaints.
if grep -i jack "$work/start.log"; then fail "a normal start and quit printed JACK's lines"; fi
rm -rf "$work"
echo "PASS"
