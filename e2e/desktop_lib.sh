# shellcheck shell=bash
# Shared by the end-to-end scripts that need more of a desktop than a
# display: a session bus of their own with the accessibility bus on it
# (AT-SPI, what screen readers use) and a headless Wayland compositor.
#
# The scripts that source it run in a session of their own, with HOME,
# the XDG folders and TMPDIR in a folder of its own (lib.sh's "session").

DESKTOP_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Debian's python, which has the gi bindings (python3-gi).
DESKTOP_PYTHON=/usr/bin/python3

# Services the bus starts on demand, the accessibility bus among them, get
# the private folders too; otherwise they would write into the real home.
desktop_accessibility() {
    dbus-update-activation-environment HOME XDG_RUNTIME_DIR XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME \
        XDG_STATE_HOME TMPDIR 2>/dev/null
    # Qt speaks AT-SPI only when it believes a screen reader is listening.
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}

# weston with its headless backend and a socket of this run; sets
# WAYLAND_DISPLAY and WESTON_PID. weston-screenshooter needs --debug and the pixman renderer.
desktop_weston() {  # [weston options...]
    local socket=wayland-larkspan-$$
    weston --backend=headless-backend.so --use-pixman --socket="$socket" --width=1024 --height=768 \
        --debug --idle-time=0 "$@" >"$E2E_DIR/weston.log" 2>&1 &
    WESTON_PID=$!
    E2E_PIDS+=("$WESTON_PID")
    for _ in $(seq 100); do
        [ -S "$XDG_RUNTIME_DIR/$socket" ] && break
        sleep 0.1
    done
    [ -S "$XDG_RUNTIME_DIR/$socket" ] || { echo "weston did not start:" >&2; cat "$E2E_DIR/weston.log" >&2; return 1; }
    export WAYLAND_DISPLAY=$socket
}

# The whole Wayland screen as a PNG.
desktop_screenshot() {  # png
    local dir
    dir=$(mktemp -d "$E2E_DIR/shot.XXXXXX")
    (cd "$dir" && weston-screenshooter >/dev/null 2>&1)
    mv "$dir"/*.png "$1" 2>/dev/null
    rm -rf "$dir"
    [ -s "$1" ]
}

atspi() {  # tree|press|wait ... (see atspi.py)
    "$DESKTOP_PYTHON" "$DESKTOP_LIB_DIR/atspi.py" "$@"
}
