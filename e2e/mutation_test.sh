#!/usr/bin/env bash
# Mutation testing in CI: every fault of tests/mutation/rules.txt must make
# a test fail, except those marked equivalent there (tests/mutation/run.sh).

# Run alone, it runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
[ -n "${LARKSPAN_PRIVATE_ROOT:-}" ] || exec bash "$(dirname "$0")/../scripts/private_root.sh" bash "$0" "$@"
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/../tests/mutation/run.sh"
status=$?
[ $status -eq 0 ] && echo "mutation e2e: all passed" || echo "mutation e2e: failed"
exit $status
