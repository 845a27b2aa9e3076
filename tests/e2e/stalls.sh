#!/usr/bin/env bash
# The program where the network stalls and where it dies: quitting while its
# host accepts a connection and never answers (a proxy that holds every
# request stands in for a captive portal), and the user guide's web view
# process once the program is killed.
# Usage: stalls.sh <Clarivo executable>; run under Xvfb.
set -uo pipefail
clarivo="$(realpath "$1")"

. "$(dirname "$0")/common.sh"
private_home stalls
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
quits_within "$media" 2 " with a stalled lookup"
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
deadline=$(($(now_ms) + 2000))
until gone "$child"; do
    [ "$(now_ms)" -le $deadline ] || fail "the web view process $child outlived the program by 2 s"
    sleep 0.05
done
child=""
cleanup
echo "PASS"
