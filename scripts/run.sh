#!/usr/bin/env bash
# Builds the Linux program and starts it on this desktop.
set -euo pipefail
cd "$(dirname "$0")/.."

LARKSPAN_WITH_WINE=0 bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target larkspan

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "There is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot be shown."
  echo "The program is built at build/larkspan. To see it work without a display, run the headless demo:"
  echo "    scripts/demo.sh"
  exit 1
fi
exec build/larkspan
