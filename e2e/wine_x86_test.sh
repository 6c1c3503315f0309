#!/usr/bin/env bash
# The 32-bit Windows build (build-win32/larkspan.exe, i686, whose WAVEHDR
# is the 32-byte header) through the same Wine end-to-end test as the
# 64-bit one. Needs 32-bit Wine (wine32:i386), which scripts/deps.sh
# installs only in CI or when asked, and only where the kernel runs 32-bit
# programs and apt could install it: without it, says why and skips.

source "$(dirname "$0")/lib.sh"
if [ "${LARKSPAN_WITH_WINE:-1}" = 0 ]; then echo "wine e2e (x86): skipped, LARKSPAN_WITH_WINE=0"; exit 0; fi
# A kernel without 32-bit support, or 32-bit Wine left out when the
# packages were installed: the line scripts/deps.sh said then.
if ! why=$(bash "$E2E_ROOT/scripts/deps.sh" --wine32-status); then
    echo "wine e2e (x86): skipped, $why"
    exit 0
fi
LARKSPAN_EXE=${LARKSPAN_EXE_X86:-$E2E_ROOT/build-win32/larkspan.exe} exec bash "$E2E_LIB/wine_test.sh"
