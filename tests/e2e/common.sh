# What the end-to-end scripts share; sourced, never run.

# A home of its own under a new folder ($work), so that nothing of the
# user's is read or written; only the launch socket stays where every launch
# of this user meets (the runtime folder, or the cache of the home the
# password database names), so no Clarivo of the user's may run meanwhile.
private_home() {
    work="$(mktemp -d "${TMPDIR:-/tmp}/clarivo-e2e-$1.XXXXXX")"
    export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
           XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

# The id of the first window whose whole title is $1, waiting up to $2 s.
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

# Milliseconds, for waits shorter than bash's whole seconds can time.
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Presses Ctrl+Q in window $1 and fails (through the script's own fail)
# unless the program ($pid) ends with status 0 within $2 s; $3 says when.
quits_within() {
    local status deadline
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key --clearmodifiers ctrl+q
    deadline=$(($(now_ms) + $2 * 1000))
    while kill -0 "$pid" 2>/dev/null; do
        [ "$(now_ms)" -le $deadline ] || fail "still running $2 s after Ctrl+Q$3"
        sleep 0.05
    done
    wait "$pid"
    status=$?
    pid=""
    [ $status -eq 0 ] || fail "quit$3 with status $status"
}

# A process that has ended, or ended and waits for its parent to reap it.
gone() { [ ! -e "/proc/$1" ] || [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" = "Z" ]; }

# Starts the program ($pid) and waits for its media window ($media), past
# the welcome box, which comes at the first start only.
start() {
    "$clarivo" >"$work/start.log" 2>&1 &
    pid=$!
    local deadline=$((SECONDS + 30)) box
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
