#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need,
# skipping those already there. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  cmake g++ make pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libpulse-dev fonts-dejavu-core
  mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  xvfb xdotool xclip x11-utils x11-apps imagemagick
  pulseaudio pulseaudio-utils sox python3 valgrind procps git
  libcanberra-dev libcanberra-pulse sound-theme-freedesktop  # the warning sound (MessageBeep): build and run
)
[ "${LARKSPAN_WITH_WINE:-1}" = 1 ] && packages+=(wine64)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
