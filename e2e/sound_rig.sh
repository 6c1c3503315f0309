#!/bin/bash
# A private sound server with virtual devices, for tests and benchmarks:
# the PulseAudio daemon, or PipeWire with its PulseAudio service.
#
#   sound_rig.sh start [DIR]   start it; prints the environment to use
#   sound_rig.sh stop [DIR]    stop it and remove DIR
#   sound_rig.sh which         the server `start` would run, or nothing
#
# LARKSPAN_SOUND_SERVER=pulseaudio|pipewire chooses the server; by default
# the PulseAudio daemon where it is installed, else PipeWire.
# SOUND_RIG_QUANTUM=free leaves PipeWire's quantum to the streams, as a
# desktop does, rather than pinned (see start_pipewire).
#
# One stereo null sink "bus" at 11025 Hz: the default source "mic" is bus's
# left channel, the default sink "spk" feeds bus's right channel. Play a
# signal into bus's left channel and record bus.monitor: left is what went
# in, right is what came out, sample-aligned.
#
# Everything the server writes (runtime folder, home, configuration, state,
# logs) stays in DIR. Clients reach it through PULSE_SERVER alone.
set -euo pipefail

cmd=${1:-}
dir=${2:-${TMPDIR:-/tmp}/larkspan-sound-rig}

# The server to run: as asked, or the one installed.
which_server() {
    case "${LARKSPAN_SOUND_SERVER:-}" in
    pulseaudio | pipewire)
        echo "$LARKSPAN_SOUND_SERVER"
        return
        ;;
    "") ;;
    *)
        echo "sound_rig: LARKSPAN_SOUND_SERVER must be pulseaudio or pipewire" >&2
        exit 2
        ;;
    esac
    if command -v pulseaudio >/dev/null; then
        echo pulseaudio
    elif command -v pipewire >/dev/null && command -v pipewire-pulse >/dev/null; then
        echo pipewire
    fi
}

installed() {  # server
    case "$1" in
    pulseaudio) command -v pulseaudio >/dev/null ;;
    pipewire)
        command -v pipewire >/dev/null && command -v pipewire-pulse >/dev/null &&
            command -v wireplumber >/dev/null && command -v dbus-run-session >/dev/null
        ;;
    *) return 1 ;;
    esac
}

# Waits until the server answers; fails after `seconds`.
wait_for_server() {  # seconds
    local i
    for i in $(seq $(($1 * 20))); do
        pactl info >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}

start_pulseaudio() {
    cat >"$dir/rig.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1
PA
    # setsid: the daemon outlives this script and ignores the caller's signals.
    setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --realtime=no \
        --high-priority=no --use-pid-file=no --log-target=file:"$dir/daemon.log" -F "$dir/rig.pa" \
        </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/pid"
    echo $! >"$dir/server.pid"
    echo $! >"$dir/pids"
    wait_for_server 5
}

# PipeWire, its session manager and its PulseAudio service on a session
# bus of their own, as a desktop session runs them.
#
# The graph runs at 48 kHz, as a desktop's, at the desktop's quantum of
# 1024 frames (21 ms), pinned, and PipeWire's PulseAudio service runs
# real-time (SCHED_FIFO at the lowest priority, below PipeWire's own
# threads) where the machine allows it; a desktop gives the main thread,
# which serves the streams, only nice -11. Left alone, the rig's 5 ms
# recorders drive the graph to 256 frames (5.3 ms), whose cycles the service
# missed again and again on this 2-core machine under others' builds (it
# logs each miss), and each miss moved the output a quantum against the
# input: in 60 s click trains, 8 to 45 moves for the program and 0 to 75 for
# parec | pacat (load 1.5 to 9). Pinned at 1024 frames the program moved 0
# or 1 times; with the service real-time as well, 0 in 5 runs (load 0.6 to
# 9.5), though parec | pacat met one missed cycle in 4 runs (load 6).
# The pin has a cost: Wine's capture, which asks for 10 ms fragments, got
# its first 2048 samples 0.8 to 5.8 s after it started in 6 of 6 runs
# pinned (and none within 10 s in 1 of 10 runs on a fresh PipeWire-only
# root), and within 0.22 s in 6 of 6 with the quantum left free: so the
# Wine test asks for it free (SOUND_RIG_QUANTUM=free), as on a desktop.
start_pipewire() {
    mkdir -p "$dir/state" "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d"
    export XDG_STATE_HOME="$dir/state"
    local pin="default.clock.min-quantum = 1024
    default.clock.max-quantum = 1024"
    [ "${SOUND_RIG_QUANTUM:-}" = free ] && pin=""
    cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/rig.conf" <<CONF
context.properties = {
    default.clock.rate = 48000
    default.clock.quantum = 1024
    $pin
}
CONF
    local rt=""
    if chrt -f 1 true 2>/dev/null; then
        rt="chrt -f 1"
    else
        echo "sound_rig: cannot run PipeWire's PulseAudio service real-time here; under load its streams may move a quantum" >&2
    fi
    cat >"$dir/stack.sh" <<'STACK'
pipewire >"$RIG_DIR/pipewire.log" 2>&1 &
echo $! >"$RIG_DIR/pipewire.pid"
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break
    sleep 0.05
done
wireplumber >"$RIG_DIR/wireplumber.log" 2>&1 &
echo $! >"$RIG_DIR/wireplumber.pid"
# Its pid is written before it can answer: real-time, it may answer
# before this shell runs again.
bash -c 'echo $$ >"$RIG_DIR/pipewire-pulse.pid"; exec $RIG_RT pipewire-pulse' >"$RIG_DIR/pipewire-pulse.log" 2>&1 &
wait
STACK
    RIG_RT=$rt RIG_DIR=$dir setsid dbus-run-session -- bash "$dir/stack.sh" </dev/null >"$dir/session.log" 2>&1 &
    echo $! >"$dir/pid"
    wait_for_server 10 || return 1
    cp "$dir/pipewire-pulse.pid" "$dir/server.pid"
    cat "$dir/pipewire.pid" "$dir/wireplumber.pid" "$dir/pipewire-pulse.pid" | tr '\n' ' ' >"$dir/pids"
}

case "$cmd" in
which)
    server=$(which_server)
    [ -n "$server" ] && installed "$server" && echo "$server"
    ;;
start)
    server=$(which_server)
    if [ -z "$server" ] || ! installed "$server"; then
        echo "sound_rig: ${server:-no sound server} is not installed" >&2
        exit 3
    fi
    if [[ -f "$dir/pid" ]] && kill -0 "$(cat "$dir/pid")" 2>/dev/null; then
        echo "sound_rig: already running in $dir" >&2
        exit 1
    fi
    mkdir -p "$dir/run" "$dir/home/.config/pulse"
    chmod 700 "$dir/run"
    echo "autospawn = no" >"$dir/home/.config/pulse/client.conf"
    export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/home/.config"
    export PULSE_SERVER="unix:$dir/run/pulse/native"
    unset DBUS_SESSION_BUS_ADDRESS PULSE_SINK PULSE_SOURCE
    if ! "start_$server"; then
        echo "sound_rig: $server did not come up; logs in $dir" >&2
        bash "$0" stop "$dir" keep >/dev/null 2>&1 || true
        exit 1
    fi
    # PipeWire now and then refuses a request about a device it is still
    # setting up ("Not supported"): such a request is asked again for a
    # while, and fails the start only if it keeps failing.
    again() {
        local _
        for _ in $(seq 40); do
            "$@" 2>/dev/null && return 0
            sleep 0.05
        done
        "$@"
    }
    again pactl load-module module-null-sink sink_name=bus format=s16le rate=11025 channels=2 \
        channel_map=front-left,front-right >/dev/null
    # PipeWire now and then answers "Not supported" to a sink it has only
    # just made; the bus then starts at once, which does no harm.
    pactl suspend-sink bus 1 2>/dev/null || true
    again pactl load-module module-remap-source source_name=mic master=bus.monitor channels=1 \
        master_channel_map=front-left channel_map=mono remix=no >/dev/null
    again pactl load-module module-remap-sink sink_name=spk master=bus channels=1 \
        master_channel_map=front-right channel_map=mono remix=no >/dev/null
    again pactl set-default-source mic
    again pactl set-default-sink spk
    # A null sink delivers in chunks sized by its lowest-latency client: a
    # recorder that is always there keeps capture from arriving in clumps.
    # LARKSPAN_RIG_KEEPER=0 leaves it out, as on a desktop, whose devices
    # run at their own pace: the bus then runs at the pace its clients ask
    # for, and the server rewinds it when they write.
    if [ "${LARKSPAN_RIG_KEEPER:-1}" != 0 ]; then
        setsid parec -d bus.monitor --raw --format=s16le --rate=11025 --channels=2 --latency-msec=5 </dev/null >/dev/null 2>&1 &
        keeper=$!
        echo "$keeper" >"$dir/keeper.pid"
        # Resumed once the keeper's own stream is attached (mic's remapping has
        # one on bus.monitor from the start), bus starts at its pace. Resumed
        # before, PulseAudio's null sink renders its first block at its longest
        # latency, 2 s, and capture opened then waited 1.3 s for its first
        # fragment, 2 s under load.
        for _ in $(seq 100); do
            grep -q "application.process.id = \"$keeper\"" < <(pactl list source-outputs 2>/dev/null) && break
            sleep 0.02
        done
    fi
    pactl suspend-sink bus 0 2>/dev/null || true
    echo "export PULSE_SERVER=$PULSE_SERVER"
    echo "export LARKSPAN_SOUND_SERVER=$server"
    # The process that serves the PulseAudio protocol, and all of the server's.
    echo "export PULSE_RIG_PID=$(cat "$dir/server.pid")"
    echo "export SOUND_RIG_PIDS='$(cat "$dir/pids")'"
    echo "export PULSE_RIG_DIR=$dir"
    ;;
stop)
    if [[ -f "$dir/keeper.pid" ]]; then
        kill "$(cat "$dir/keeper.pid")" 2>/dev/null || true
    fi
    if [[ -f "$dir/pid" ]]; then
        pid=$(cat "$dir/pid")
        # A stopped server (fault tests) must be woken to die.
        for p in $pid $(cat "$dir/pids" 2>/dev/null); do kill -CONT "$p" 2>/dev/null || true; done
        # The whole session: PipeWire's processes and their bus share it.
        kill -- -"$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -KILL -- -"$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
        for p in $(cat "$dir/pids" 2>/dev/null); do kill -KILL "$p" 2>/dev/null || true; done
    fi
    [ "${3:-}" = keep ] || rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start|stop [DIR] | which" >&2
    exit 2
    ;;
esac
