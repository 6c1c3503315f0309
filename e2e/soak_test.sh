#!/usr/bin/env bash
# The short form of bench/soak.sh for every test run: 20 Record/Stop cycles
# and 30 s of pass-through, once on each sound server, unless
# LARKSPAN_SOUND_SERVER names one.

# Run alone, it runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
[ -n "${LARKSPAN_PRIVATE_ROOT:-}" ] || exec bash "$(dirname "$0")/../scripts/private_root.sh" bash "$0" "$@"
[ -n "${LARKSPAN_SOUND_SERVER:-}" ] || exec bash "$(dirname "$0")/each_server.sh" "$0" "$@"
exec bash "$(dirname "$0")/../bench/soak.sh" 20 30
