#!/usr/bin/env bash
# The short form of bench/soak.sh for every test run: 20 Record/Stop cycles
# and 30 s of pass-through.
exec bash "$(dirname "$0")/../bench/soak.sh" 20 30
