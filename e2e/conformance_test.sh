#!/usr/bin/env bash
# The layer's wave devices answer as Windows does: the conformance probe run
# under Wine and on the layer, compared by tests/conformance/compare.sh.

# Run alone, it runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
[ -n "${LARKSPAN_PRIVATE_ROOT:-}" ] || exec bash "$(dirname "$0")/../scripts/private_root.sh" bash "$0" "$@"
here=$(cd "$(dirname "$0")" && pwd)
# Without Wine by choice (see scripts/deps.sh), say so rather than fail.
if [ "${LARKSPAN_WITH_WINE:-1}" = 0 ]; then echo "wave conformance: skipped, LARKSPAN_WITH_WINE=0"; exit 0; fi
if bash "$here/../tests/conformance/compare.sh"; then
    echo "wave conformance: passed"
else
    echo "wave conformance: FAILED"
    exit 1
fi
