#!/usr/bin/env bash
# The program where the network stalls and where it dies: quitting while its
# host accepts a connection and never answers (a proxy that holds every
# request stands in for a captive portal), and the user guide's web view
# process once the program is killed.
# Usage: stalls.sh <Clarivo executable>; run under Xvfb.
set -uo pipefail
clarivo="$(realpath "$1")"

work="$(mktemp -d "${TMPDIR:-/tmp}/clarivo-e2e-stalls.XXXXXX")"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
       XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"
pid="" server="" child=""

cleanup() {
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
    [ -n "$child" ] && kill -9 "$child" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null
    rm -rf "$work"
}
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/start.log" ] && cat "$work/start.log" >&2
    cleanup
    exit 1
}
window_named() {
    local deadline=$((SECONDS + $2)) id pattern
    pattern="^$(printf '%s' "$1" | sed 's/[][\\.*^$+?(){}|]/\\&/g')\$"
    while :; do
        id="$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1)"
        [ -n "$id" ] && { echo "$id"; return 0; }
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}
# Starts the program and waits for its media window, past the welcome box.
start() {
    "$clarivo" >"$work/start.log" 2>&1 &
    pid=$!
    local deadline=$((SECONDS + 30)) box
    # The welcome box comes at the first start only, over the media window.
    while :; do
        if box="$(window_named "Welcome to Clarivo!" 0)"; then
            xdotool windowfocus --sync "$box" 2>/dev/null
            xdotool key --clearmodifiers Escape
        elif media="$(window_named "Media Player" 0)"; then
            sleep 1
            window_named "Welcome to Clarivo!" 0 >/dev/null || break
        fi
        [ $SECONDS -lt $deadline ] || fail "no media window"
        sleep 0.3
    done
}
# A process that has ended, or ended and waits for its new parent to reap it.
gone() { [ ! -e "/proc/$1" ] || [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" = "Z" ]; }

# A proxy that accepts every connection and never answers.
python3 -c '
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(16)
print(s.getsockname()[1], flush=True)
held = []
while True:
    c, _ = s.accept()
    held.append(c)
    print("accepted", flush=True)
' >"$work/proxy.log" &
server=$!
deadline=$((SECONDS + 5))
until [ -s "$work/proxy.log" ]; do [ $SECONDS -lt $deadline ] || fail "no proxy"; sleep 0.1; done
port="$(head -n 1 "$work/proxy.log")"

# The rating prompt looks the program up at start; the lookup waits on the
# silent proxy when the user quits.
export https_proxy="http://127.0.0.1:$port" http_proxy="http://127.0.0.1:$port"
start
deadline=$((SECONDS + 20))
until grep -q accepted "$work/proxy.log"; do [ $SECONDS -lt $deadline ] || fail "no lookup reached the proxy"; sleep 0.2; done
sleep 3
xdotool windowfocus --sync "$media" 2>/dev/null
xdotool key --clearmodifiers ctrl+q
deadline=$((SECONDS + 2))
while kill -0 "$pid" 2>/dev/null; do
    [ $SECONDS -le $deadline ] || fail "still running 2 s after Ctrl+Q with a stalled lookup"
    sleep 0.05
done
wait "$pid"
status=$?
pid=""
[ $status -eq 0 ] || fail "quit with a stalled lookup ended with status $status"
unset https_proxy http_proxy

# Killed with the guide open, the program takes the web view's process with it.
start
xdotool windowfocus --sync "$media" 2>/dev/null
xdotool key --clearmodifiers ctrl+g
window_named "Clarivo User Guide" 10 >/dev/null || fail "Ctrl+G opened no user guide"
deadline=$((SECONDS + 15))
until child="$(pgrep -P "$pid" -f -- '--juce-gtkwebkitfork-child' | head -n 1)" && [ -n "$child" ]; do
    [ $SECONDS -lt $deadline ] || fail "no web view process"
    sleep 0.2
done
sleep 2
kill -9 "$pid"
wait "$pid" 2>/dev/null
pid=""
deadline=$((SECONDS + 2))
until gone "$child"; do
    [ $SECONDS -le $deadline ] || fail "the web view process $child outlived the program by 2 s"
    sleep 0.05
done
child=""
cleanup
echo "PASS"
