#!/usr/bin/env bash
# What a blind user hears: Orca on a headless GNOME Shell, its speech read
# from its debug log, keys typed on mutter's virtual keyboard. Once on a
# private sound server (Record, Stop, Record again, Alt+F4) and once
# with none (the device message box, answered).

E2E_NEEDS="session app"
source "$(dirname "$0")/lib.sh"
NAME="screen reader e2e"
for tool in gnome-shell orca speech-dispatcher dbus-daemon; do
    command -v $tool >/dev/null || { echo "$NAME: skipped, $tool is not installed (scripts/deps.sh test)"; exit 0; }
done
desktop_accessibility
export GSETTINGS_BACKEND=keyfile DESKTOP=mutter DESKTOP_PIDS=() WAYLAND_DISPLAY=wayland-$$-shell
mkdir -p "$XDG_CONFIG_HOME/glib-2.0/settings" "$XDG_CONFIG_HOME/speech-dispatcher" "$XDG_DATA_HOME/gnome-shell" \
    "$E2E_DIR/bin"
cat >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile" <<'EOF'
[org/gnome/desktop/interface]
toolkit-accessibility=true
enable-animations=false
[org/gnome/desktop/a11y/applications]
screen-reader-enabled=false
[org/gnome/desktop/notifications]
show-banners=false
EOF
# Shown once per user; a root session would otherwise read it out mid-step.
: >"$XDG_DATA_HOME/gnome-shell/lock-warning-shown"
# No sound card: the dummy module takes every request and plays nowhere.
printf 'AddModule "dummy" "sd_dummy" ""\nDefaultModule dummy\nAudioOutputMethod "libao"\n' \
    >"$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf"
printf 'default_driver=null\n' >"$HOME/.libao"
# Orca runs `xkbcomp $DISPLAY` even on Wayland alone.
printf '#!/bin/sh\nexit 0\n' >"$E2E_DIR/bin/xkbcomp" && chmod +x "$E2E_DIR/bin/xkbcomp"
# Its debug log, flushed per line, so each step is read as it is spoken.
sed "s/open(args.debug_file, 'w')/open(args.debug_file, 'w', buffering=1)/" "$(command -v orca)" >"$E2E_DIR/orca"
# GNOME Shell needs a system bus; an empty one of its own does.
cat >"$E2E_DIR/system.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path=$XDG_RUNTIME_DIR/system_bus</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/><allow user="*"/></policy></busconfig>
EOF
desktop_run dbus-daemon --config-file="$E2E_DIR/system.conf" --nofork
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/system_bus
desktop_wait_for "$XDG_RUNTIME_DIR/system_bus"
desktop_run gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x800 --wayland-display "$WAYLAND_DISPLAY"
if ! desktop_wait_for "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"; then
    echo "$NAME: skipped, GNOME Shell did not start: $(grep -v '^ *$' "$E2E_DIR/mutter.log" | tail -n 1)"
    exit 0
fi
sleep 2
# The first key typed is lost; the second leaves the overview the shell
# starts in, which would keep the focus from new windows.
desktop_dbus mutter-keys shift Escape
gsettings set org.gnome.desktop.a11y.applications screen-reader-enabled true
SPOKEN=$E2E_DIR/orca.log
PATH=$E2E_DIR/bin:$PATH DISPLAY=:99 desktop_run "$DESKTOP_PYTHON" "$E2E_DIR/orca" --debug --debug-file "$SPOKEN"

# What Orca said since the last mark, one utterance a line.
MARK=0
# A line is "SPEECH OUTPUT: 'text'", followed by the voice's settings
# ("{...}") where a voice was chosen.
utterances() {  # first line
    sed -n "$1,\$s/^.*SPEECH OUTPUT: '\(.*\)'\( *{.*}\)\{0,1\}\$/\1/p" "$SPOKEN"
}
said() { utterances $((MARK + 1)); }
mark() { MARK=$(wc -l <"$SPOKEN"); }
hears() {  # pattern...: each said since the mark, in this order, within 10 s
    local end=$(($(date +%s) + 10)) p text
    while :; do
        text=$(said | tr '\n' '|')
        for p in "$@"; do
            [[ "$text" == *"$p"* ]] || break
            text=${text#*"$p"}
            p=
        done
        [ -z "$p" ] && return 0
        [ "$(date +%s)" -ge $end ] && { echo "    heard: $(said | tr '\n' '|')"; return 1; }
        sleep 0.2
    done
}
for _ in $(seq 150); do grep -qs "SPEECH OUTPUT" "$SPOKEN" && break; sleep 0.2; done
grep -qs "SPEECH OUTPUT" "$SPOKEN" || { echo "Orca said nothing; its log:"; tail -n 5 "$E2E_DIR/mutter.log"; exit 1; }
sleep 5  # Orca's welcome and the notifications before, read and gone
exec {KEYS}> >(desktop_dbus mutter-keys)
E2E_PIDS+=($!)  # reads until the end of its input: the clean-up's wait would wait for it
key() { mark; echo "$@" >&$KEYS; }
key shift  # the session's first key is lost too
sleep 1

start() {  # log [env...]
    mark
    env "${@:2}" QT_QPA_PLATFORM=wayland "$APP" >"$1" 2>&1 &
    APP_PID=$!
    E2E_PIDS+=("$APP_PID")
}

echo "On a sound server"
e2e_sound_server || exit 1
start "$E2E_DIR/app.log"
e2e_check "the window: its caption, a dialog, and Record focused" \
    hears "Larkspan 1.0 by the Larkspan developers" "dialog" "Record push button"
e2e_play_tone 0 20
key space
e2e_check "Record, by the keyboard: the focus moves to Stop, and says so" hears "Stop push button"
e2e_check "Record says it is unavailable" atspi wait larkspan Record '!enabled'
e2e_check "the sound passes" app_wait_streams 3
key space
e2e_check "Stop, likewise: back to Record" hears "Record push button"
e2e_check "the streams close" app_wait_streams 0
key space
e2e_check "Record again: Stop" hears "Stop push button"
key space
e2e_check "and Stop again: Record" hears "Record push button"
# The close box is no tab stop, as on Windows: Orca's review finds it, as
# a push button, and the keyboard closes with Alt+F4.
e2e_check "the close box, a push button" atspi wait larkspan Close enabled
key alt+F4
e2e_check "Alt+F4 ends the program with 0" app_wait_exit 10
e2e_check "  status 0" test "${APP_STATUS:-}" = 0

echo "With no sound server"
start "$E2E_DIR/app-box.log" PULSE_SERVER=unix:/nonexistent/socket
e2e_check "the window" hears "Record push button"
key space
e2e_check "Record: an alert, its title and text, and OK" \
    hears "alert Vazozo1" "can't open wave device" "OK push button"
tree_has() { atspi tree larkspan | grep -F "$1" >/dev/null; }
e2e_check "its icon, a picture named Warning" tree_has 'image "Warning"'
key space
e2e_check "OK ends the program" app_wait_exit 10
e2e_check "  status 0" test "${APP_STATUS:-}" = 0

echo "What Orca said"
utterances 1 | uniq | sed 's/^/  | /'
gsettings set org.gnome.desktop.a11y.applications screen-reader-enabled false
exec {KEYS}>&-
desktop_stop
e2e_result "$NAME"
