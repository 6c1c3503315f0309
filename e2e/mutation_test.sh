#!/usr/bin/env bash
# Mutation testing in CI: every fault generated from the sources, and every
# hand fault of tests/mutation/faults.txt, must make a test fail, except
# those listed there as equivalent (tests/mutation/run.sh).

source "$(dirname "$0")/lib.sh"
bash "$E2E_ROOT/tests/mutation/run.sh"
status=$?
[ $status -eq 0 ] && echo "mutation e2e: all passed" || echo "mutation e2e: failed"
exit $status
