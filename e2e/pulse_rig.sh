#!/bin/bash
# A private PulseAudio daemon with virtual devices, for tests and benchmarks.
#
#   pulse_rig.sh start [DIR]   start it; prints the environment to use
#   pulse_rig.sh stop [DIR]    stop it and remove DIR
#
# One stereo null sink "bus" at 11025 Hz (no resampling anywhere): the default
# source "mic" is bus's left channel, the default sink "spk" feeds bus's right
# channel. Play a signal into bus's left channel and record bus.monitor: left
# is what went in, right is what came out, sample-aligned.
set -euo pipefail

cmd=${1:-}
dir=${2:-/tmp/larkspan-pulse-rig}

case "$cmd" in
start)
    command -v pulseaudio >/dev/null || { echo "pulse_rig: pulseaudio not installed" >&2; exit 3; }
    if [[ -f "$dir/pid" ]] && kill -0 "$(cat "$dir/pid")" 2>/dev/null; then
        echo "pulse_rig: already running in $dir" >&2
        exit 1
    fi
    mkdir -p "$dir/run" "$dir/home/.config/pulse"
    chmod 700 "$dir/run"
    echo "autospawn = no" >"$dir/home/.config/pulse/client.conf"
    cat >"$dir/rig.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=bus format=s16le rate=11025 channels=2 channel_map=front-left,front-right norewinds=1
suspend-sink bus 1
load-module module-remap-source source_name=mic master=bus.monitor channels=1 master_channel_map=front-left channel_map=mono remix=no
load-module module-remap-sink sink_name=spk master=bus channels=1 master_channel_map=front-right channel_map=mono remix=no
set-default-source mic
set-default-sink spk
PA
    export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/home/.config"
    # setsid: the daemon outlives this script and ignores the caller's signals.
    setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --realtime=no \
        --high-priority=no --use-pid-file=no --log-target=file:"$dir/daemon.log" -F "$dir/rig.pa" \
        </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/pid"
    export PULSE_SERVER="unix:$dir/run/pulse/native"
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.05
    done
    if ! pactl info >/dev/null 2>&1; then
        echo "pulse_rig: daemon did not come up; see $dir/daemon.log" >&2
        kill "$(cat "$dir/pid")" 2>/dev/null || true
        exit 1
    fi
    setsid parec -d bus.monitor --raw --format=s16le --rate=11025 --channels=2 --latency-msec=5 </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/keeper.pid"
    # Resumed once the keeper is attached, bus starts at its pace.
    for _ in $(seq 100); do
        pactl list short source-outputs | grep -q . && break
        sleep 0.02
    done
    pactl suspend-sink bus 0
    echo "export PULSE_SERVER=$PULSE_SERVER"
    echo "export PULSE_RIG_PID=$(cat "$dir/pid")"
    echo "export PULSE_RIG_DIR=$dir"
    ;;
stop)
    if [[ -f "$dir/keeper.pid" ]]; then
        kill "$(cat "$dir/keeper.pid")" 2>/dev/null || true
    fi
    if [[ -f "$dir/pid" ]]; then
        pid=$(cat "$dir/pid")
        kill -CONT "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start|stop [DIR]" >&2
    exit 2
    ;;
esac
