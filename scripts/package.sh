#!/usr/bin/env bash
# Makes the downloads into dist/: the Debian package of the Linux program
# (larkspan_1.0_amd64.deb, by CPack from the install rules, with Debian's
# hardening flags) and the Windows zip (larkspan-1.0-windows.zip: the
# x86-64 and the x86 executables, stripped, and README.txt). Prints their
# paths and sizes. e2e/package_test.sh checks what they hold.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
dist=$root/dist
mkdir -p "$dist"

bash scripts/deps.sh build run wine package

echo "The .deb"
# The flags Debian builds its own packages with (hardening included).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags=(-DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)")
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr "${flags[@]}" >/dev/null
cmake --build build-deb -j"$jobs" --target larkspan compressed_docs
rm -f "$dist"/larkspan_*.deb
(cd build-deb && cpack -G DEB -B "$dist" >/dev/null)
rm -rf "$dist/_CPack_Packages"
deb=$(ls "$dist"/larkspan_*.deb)

echo "The Windows zip"
for toolchain in build-win:mingw-w64 build-win32:mingw-w64-i686; do
  dir=${toolchain%%:*}
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/${toolchain#*:}.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  cmake --build "$dir" -j"$jobs" --target larkspan
done
stage=$(mktemp -d "$dist/windows.XXXXXX")
trap 'rm -rf "$stage"' EXIT
x86_64-w64-mingw32-strip -o "$stage/larkspan.exe" build-win/larkspan.exe
i686-w64-mingw32-strip -o "$stage/larkspan-x86.exe" build-win32/larkspan.exe
# Windows' Notepad before 2018 shows a text file without CR as one line.
sed 's/$/\r/' packaging/windows/README.txt >"$stage/README.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
zip="$dist/larkspan-1.0-windows.zip"
rm -f "$zip"
(cd "$stage" && touch -d 2026-12-08T12:00:00Z ./* && zip -q -X "$zip" larkspan.exe larkspan-x86.exe README.txt LICENSE.txt)

echo
echo "Debian package: $deb ($(stat -c %s "$deb") bytes)"
echo "Windows zip:    $zip ($(stat -c %s "$zip") bytes)"
