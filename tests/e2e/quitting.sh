#!/usr/bin/env bash
# A file opened from the desktop just as the program quits: a Clarivo shows
# it (the quitting one when it took the file before its quit began, else the
# launch's own once the old one has gone), or the launch ends with a
# non-zero status; it is never taken and then lost with the quit.
# Usage: quitting.sh <Clarivo executable>; run under Xvfb.
set -uo pipefail
clarivo="$(realpath "$1")"

. "$(dirname "$0")/common.sh"
private_home quitting
pid="" launch=""

cleanup() {
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
    [ -n "$launch" ] && kill -9 "$launch" 2>/dev/null
    wait 2>/dev/null
    pid="" launch=""
}
fail() {
    echo "FAIL: $*" >&2
    cleanup
    rm -rf "$work"
    exit 1
}

ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=3:sample_rate=44100" -ac 2 "$work/clip.wav" \
    || fail "could not make clip.wav"

for delay in 0 0.1 0.3; do
    start
    when="a launch $delay s after Ctrl+Q"
    xdotool windowfocus --sync "$media" 2>/dev/null
    xdotool key --clearmodifiers ctrl+q
    sleep "$delay"
    "$clarivo" "$work/clip.wav" >"$work/launch.log" 2>&1 &
    launch=$!

    deadline=$((SECONDS + 30))
    while :; do
        if gone "$launch"; then
            wait "$launch"
            status=$?
            launch=""
            # Refused: it said so, and the user can open the file again.
            [ $status -eq 0 ] || break
            # Handed over: the program took it before its quit began, so it
            # must still run and show it.
            window_named "clip.wav" 20 >/dev/null || fail "$when was handed over and no window shows clip.wav"
            gone "$pid" && fail "$when was handed over and the program quit"
            break
        fi
        if gone "$pid"; then
            # The quit went on: the launch runs on its own and shows the file.
            wait "$pid"
            pid=""
            window_named "clip.wav" 20 >/dev/null || fail "$when: the old program quit and no window shows clip.wav"
            gone "$launch" && fail "$when: the launch ended after showing clip.wav"
            break
        fi
        [ $SECONDS -lt $deadline ] || fail "$when: neither the program nor the launch ended in 30 s"
        sleep 0.05
    done
    echo "$when: $([ -n "$pid" ] && echo "shown by the running program" || echo "shown by its own instance")"
    cleanup
    sleep 0.5
done
rm -rf "$work"
echo "PASS"
