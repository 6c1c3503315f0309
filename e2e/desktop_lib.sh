# shellcheck shell=bash
# Shared by the end-to-end scripts that need more of a desktop than a
# display: a session bus of their own with the accessibility bus on it
# (AT-SPI, what screen readers use) and headless Wayland compositors.
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

# A headless compositor of this run at a scale: weston, GNOME's mutter or
# KDE's KWin. Sets DESKTOP, WAYLAND_DISPLAY and DESKTOP_SHOT (the empty
# desktop); desktop_stop stops it. Where it cannot start, it fails with the
# reason in DESKTOP_WHY.
desktop_start() {  # weston|mutter|kwin scale [weston options...]
    DESKTOP=$1 DESKTOP_PIDS=() DESKTOP_SHOT=$E2E_DIR/desktop-$1-$2.png
    DESKTOP_WHY="$1 is not installed (scripts/deps.sh test)"
    export WAYLAND_DISPLAY=wayland-$$-$1  # short: the private runtime folder may be deep
    local scale=$2 socket=$XDG_RUNTIME_DIR/wayland-$$-$1 settings=$XDG_CONFIG_HOME/glib-2.0/settings
    shift 2
    case $DESKTOP in
    weston)  # weston-screenshooter needs --debug and the pixman renderer
        command -v weston >/dev/null || return 1
        desktop_run weston --backend=headless-backend.so --use-pixman --socket="$WAYLAND_DISPLAY" --width=1024 \
            --height=768 --scale="$scale" --debug --idle-time=0 "$@"
        ;;
    mutter)  # its screen cast, our screenshots, goes through PipeWire; scale 1.5 is experimental
        command -v mutter >/dev/null && command -v gst-launch-1.0 >/dev/null || return 1
        mkdir -p "$settings"
        printf "[org/gnome/mutter]\nexperimental-features=['scale-monitor-framebuffer']\n" >"$settings/keyfile"
        desktop_run pipewire
        desktop_wait_for "$XDG_RUNTIME_DIR/pipewire-0" && desktop_run wireplumber
        GSETTINGS_BACKEND=keyfile desktop_run mutter --headless --wayland --no-x11 --virtual-monitor 1920x1080 \
            --wayland-display "$WAYLAND_DISPLAY"
        desktop_wait_for "$socket" && desktop_dbus mutter-scale "$scale"
        ;;
    kwin)  # Debian's has a file capability (cap_sys_resource) that containers may
        # not grant: it then fails with "Operation not permitted". A copy has none.
        command -v kwin_wayland >/dev/null && cp "$(command -v kwin_wayland)" "$E2E_DIR/kwin_wayland" || return 1
        KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1 desktop_run "$E2E_DIR/kwin_wayland" --virtual --width 1024 \
            --height 768 --scale "$scale" --socket "$WAYLAND_DISPLAY" --no-lockscreen --no-global-shortcuts \
            --no-kactivities
        ;;
    esac
    # Ready once it gives a screenshot; weston's shell draws its background
    # a moment after the socket is there.
    for _ in $(seq 50); do
        desktop_wait_for "$socket" || break
        desktop_screenshot "$DESKTOP_SHOT" 2>/dev/null &&
            { [ "$DESKTOP" != weston ] || [ "$(convert "$DESKTOP_SHOT" -format %k info:)" -gt 1 ]; } && return 0
        sleep 0.1
    done
    DESKTOP_WHY="$DESKTOP did not start: $(grep -v '^ *$' "$E2E_DIR/$DESKTOP.log" | tail -n 1)"
    desktop_stop
    return 1
}
desktop_run() {  # command...: in the background, logged
    "$@" >>"$E2E_DIR/$DESKTOP.log" 2>&1 &
    DESKTOP_PIDS+=($!) E2E_PIDS+=($!)
}
desktop_wait_for() {  # socket: while the compositor runs
    for _ in $(seq 100); do
        [ -S "$1" ] && return 0
        kill -0 "${DESKTOP_PIDS[@]}" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
desktop_stop() {  # (a bare wait would wait for every job)
    [ ${#DESKTOP_PIDS[@]} = 0 ] || { kill "${DESKTOP_PIDS[@]}" 2>/dev/null; wait "${DESKTOP_PIDS[@]}" 2>/dev/null; }
}
desktop_dbus() { "$DESKTOP_PYTHON" "$DESKTOP_LIB_DIR/compositor.py" "$@"; }  # compositor.py command...

# The whole Wayland screen as a PNG.
desktop_screenshot() {  # png
    local dir
    case $DESKTOP in
    mutter | kwin) desktop_dbus "$DESKTOP-shot" "$1" ;;
    *)
        dir=$(mktemp -d "$E2E_DIR/shot.XXXXXX")
        (cd "$dir" && weston-screenshooter >/dev/null 2>&1)
        mv "$dir"/*.png "$1" 2>/dev/null
        rm -rf "$dir"
        ;;
    esac
    [ -s "$1" ]
}

atspi() {  # tree|press|wait ... (see atspi.py)
    "$DESKTOP_PYTHON" "$DESKTOP_LIB_DIR/atspi.py" "$@"
}
