#!/usr/bin/env bash
# Builds the Linux program and starts it on this desktop. Installs only
# what building and running it needs; the desktop's own sound server plays
# and records. Where there is no display, runs the headless demo instead
# (scripts/demo.sh), which also installs a virtual display and a private
# sound server for it.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "There is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window"
  echo "cannot be shown on a screen. Running the headless demo instead: the program on a virtual"
  echo "display, with virtual sound devices whose input hears a test tone."
  exec bash scripts/demo.sh
fi

bash scripts/deps.sh build run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j"$(nproc)" --target larkspan
exec build/larkspan
