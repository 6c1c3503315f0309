#!/usr/bin/env bash
# The layer's wave devices answer as Windows does: the conformance probe run
# under Wine and on the layer, compared by tests/conformance/compare.sh.

source "$(dirname "$0")/lib.sh"
# Without Wine by choice (see scripts/deps.sh), say so rather than fail.
if [ "${LARKSPAN_WITH_WINE:-1}" = 0 ]; then echo "wave conformance: skipped, LARKSPAN_WITH_WINE=0"; exit 0; fi
if bash "$E2E_ROOT/tests/conformance/compare.sh"; then
    echo "wave conformance: passed"
else
    echo "wave conformance: FAILED"
    exit 1
fi
