# shellcheck shell=bash
# Shared by the end-to-end scripts that need more of a desktop than a
# display: a session bus of their own with the accessibility bus on it
# (AT-SPI, what screen readers use) and a headless Wayland compositor.
#
# First thing in a script, inside the private folder of
# scripts/private_root.sh: desktop_session "$0" "$@". The script then runs
# again in a folder of its own there, which holds HOME, the XDG folders,
# TMPDIR and the e2e folder, on a session bus that dbus-run-session starts
# and stops; the folder is removed afterwards. Source lib.sh after that.

DESKTOP_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Debian's python, which has the gi bindings (python3-gi).
DESKTOP_PYTHON=/usr/bin/python3

desktop_session() {  # script args...
    [ -n "${LARKSPAN_DESKTOP_DIR:-}" ] && return 0
    local dir status
    dir=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-desktop.XXXXXX") || exit 1
    mkdir -p "$dir/home" "$dir/run" "$dir/config" "$dir/data" "$dir/cache" "$dir/state" "$dir/tmp" "$dir/e2e"
    chmod 700 "$dir/run"
    export LARKSPAN_DESKTOP_DIR=$dir E2E_DIR=$dir/e2e
    export HOME=$dir/home XDG_RUNTIME_DIR=$dir/run XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data \
        XDG_CACHE_HOME=$dir/cache XDG_STATE_HOME=$dir/state TMPDIR=$dir/tmp
    # Nothing of a desktop this may run on is used: its bus, displays or sound.
    unset DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY PULSE_SERVER AT_SPI_BUS_ADDRESS
    dbus-run-session -- bash "$@"
    status=$?
    rm -rf "$dir"
    exit $status
}

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
