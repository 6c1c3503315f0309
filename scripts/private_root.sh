#!/usr/bin/env bash
# Runs a command with everything per-user in one fresh temporary folder:
# HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME,
# XDG_STATE_HOME, WINEPREFIX and TMPDIR. Removes the folder afterwards; when
# the command fails, keeps it and prints where it is.
#
#   scripts/private_root.sh [--session] COMMAND [ARG...]
#
# --session: a desktop session of its own too, for the tests that need more
# than a display: a session bus that dbus-run-session starts and stops, and
# none of the caller's displays; LARKSPAN_SESSION is the folder.
#
# Tests and benchmarks start themselves through it when they are not run
# from scripts/test.sh (which runs them all in one such folder), so the
# sound server's cookie, Wine's menu entries and its server directory,
# Qt's runtime folder and every scratch file land there and nowhere else.
set -uo pipefail
session=
[ "${1:-}" = --session ] && session=1 && shift
[ $# -gt 0 ] || { echo "usage: $0 [--session] COMMAND [ARG...]" >&2; exit 2; }

root=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-private.XXXXXX") || exit 1
mkdir -p "$root/home" "$root/run" "$root/config" "$root/data" "$root/cache" "$root/state" "$root/tmp"
chmod 700 "$root/run"
export LARKSPAN_PRIVATE_ROOT=$root
export HOME=$root/home XDG_RUNTIME_DIR=$root/run XDG_CONFIG_HOME=$root/config XDG_DATA_HOME=$root/data \
  XDG_CACHE_HOME=$root/cache XDG_STATE_HOME=$root/state WINEPREFIX=$root/wine TMPDIR=$root/tmp
# Nothing may reach the user's session: its bus, its sound server, its Wine.
unset DBUS_SESSION_BUS_ADDRESS PULSE_SERVER PULSE_COOKIE PULSE_SINK PULSE_SOURCE WINESERVER
if [ -n "$session" ]; then
  export LARKSPAN_SESSION=$root
  unset DISPLAY WAYLAND_DISPLAY AT_SPI_BUS_ADDRESS
  set -- dbus-run-session -- "$@"
fi

"$@"
status=$?

if [ $status -eq 0 ]; then
  rm -rf "$root"
else
  echo "private folder kept for a look (exit status $status): $root"
fi
exit $status
