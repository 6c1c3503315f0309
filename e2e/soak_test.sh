#!/usr/bin/env bash
# The short form of bench/soak.sh for every test run: 20 Record/Stop cycles
# and 30 s of pass-through, once on each sound server, unless
# LARKSPAN_SOUND_SERVER names one.

E2E_NEEDS=servers
source "$(dirname "$0")/lib.sh"
exec bash "$E2E_ROOT/bench/soak.sh" 20 30
