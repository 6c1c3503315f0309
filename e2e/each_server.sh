#!/usr/bin/env bash
# Runs an end-to-end script once on each sound server: the PulseAudio daemon
# and PipeWire with its PulseAudio service (e2e/sound_rig.sh), with
# LARKSPAN_SOUND_SERVER set. A server that is not installed here is skipped
# with a line that says so: where pipewire-audio is installed (a desktop)
# the PulseAudio daemon cannot be. Fails if the script failed on any server.
#   e2e/each_server.sh SCRIPT [ARGS...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
script=$1
shift
status=0 ran=0
for server in pulseaudio pipewire; do
    if [ -z "$(LARKSPAN_SOUND_SERVER=$server bash "$here/sound_rig.sh" which)" ]; then
        case $server in
        pulseaudio) why="the PulseAudio daemon is not installed here (it cannot be beside pipewire-audio)" ;;
        *) why="pipewire, wireplumber, pipewire-pulse or dbus-run-session is not installed here (scripts/deps.sh leaves them out beside a desktop's PulseAudio daemon)" ;;
        esac
        echo "== $(basename "$script") on $server: skipped, $why"
        continue
    fi
    echo "== $(basename "$script") on $server"
    LARKSPAN_SOUND_SERVER=$server bash "$script" "$@"
    result=$?
    ran=$((ran + 1))
    echo "== $(basename "$script") on $server: $([ $result -eq 0 ] && echo passed || echo "FAILED ($result)")"
    [ $result -eq 0 ] || status=1
done
[ $ran -gt 0 ] || { echo "== $(basename "$script"): no sound server to run on"; status=1; }
exit $status
