#!/usr/bin/env bash
# Makes the downloads into dist/: the Debian package of the Linux program
# (larkspan_1.0_amd64.deb, by CPack from the install rules, with Debian's
# hardening flags) and the Windows zip (larkspan-1.0-windows.zip: the
# x86-64 and the x86 executables, stripped, README.txt and LICENSE.txt),
# and their SHA256SUMS. Prints their paths and sizes. e2e/package_test.sh
# checks what they hold, and that a build in another folder is identical.
#
# Both rebuild byte for byte from the same commit: every time stamp is
# SOURCE_DATE_EPOCH (the commit's time unless already set), and no build
# path or link time reaches the executables.
set -euo pipefail
# File modes in the archives come from the files on disk, as CPack and zip
# find them (CPack's own directory modes included): the usual umask, as
# dpkg-buildpackage sets it, whatever the caller's is.
umask 022
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
dist=$root/dist
mkdir -p "$dist"

bash scripts/deps.sh build run wine package

# Outside a git checkout (a source tarball), the time of the release in the
# changelog.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  else
    SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/linux/changelog -S Timestamp)
  fi
fi
export SOURCE_DATE_EPOCH
echo "Time stamps: $(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T UTC') (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"

echo "The .deb"
# The flags Debian builds its own packages with (hardening included; they
# map this folder to "." in file names, -ffile-prefix-map). CPack stamps
# the archive's members with SOURCE_DATE_EPOCH.
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
# CPack adds up the sizes the filesystem gives its folders (4 KiB each on
# ext4, a few bytes on tmpfs), so Installed-Size would depend on where the
# package was built. It is counted again as dpkg-gencontrol counts it: each
# file's own size in whole KiB, 1 for each folder; dpkg-deb packs it again.
tree=$(mktemp -d "$dist/deb.XXXXXX")
dpkg-deb -R "$deb" "$tree"
size=$(cd "$tree" && find . -path ./DEBIAN -prune -o \( -type f -o -type l \) -printf '%s\n' -o -printf 'dir\n' |
  awk '$1 == "dir" {kib++; next} {kib += int(($1 + 1023) / 1024)} END {print kib}')
sed -i "s/^Installed-Size: .*/Installed-Size: $size/" "$tree/DEBIAN/control"
dpkg-deb --root-owner-group --build "$tree" "$deb" >/dev/null
rm -rf "$tree"

echo "The Windows zip"
for toolchain in build-win:mingw-w64 build-win32:mingw-w64-i686; do
  dir=${toolchain%%:*}
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/${toolchain#*:}.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  cmake --build "$dir" -j"$jobs" --target larkspan
done
stage=$(mktemp -d "$dist/windows.XXXXXX")
trap 'rm -rf "$stage"' EXIT
# strip stamps the PE header with SOURCE_DATE_EPOCH (without it, with the
# time now, whatever the linker wrote).
x86_64-w64-mingw32-strip -o "$stage/larkspan.exe" build-win/larkspan.exe
i686-w64-mingw32-strip -o "$stage/larkspan-x86.exe" build-win32/larkspan.exe
# Windows' Notepad before 2018 shows a text file without CR as one line.
sed 's/$/\r/' packaging/windows/README.txt >"$stage/README.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
zip="$dist/larkspan-1.0-windows.zip"
rm -f "$zip"
# Zip keeps local time and the file modes: both are fixed here, whatever
# the machine's time zone and umask; -X leaves out owners and extra stamps.
(cd "$stage" && chmod 755 ./*.exe && chmod 644 ./*.txt && TZ=UTC touch -d "@$SOURCE_DATE_EPOCH" ./* &&
  TZ=UTC zip -q -X "$zip" larkspan.exe larkspan-x86.exe README.txt LICENSE.txt)

(cd "$dist" && sha256sum "$(basename "$deb")" "$(basename "$zip")" >SHA256SUMS)

echo
echo "Debian package: $deb ($(stat -c %s "$deb") bytes)"
echo "Windows zip:    $zip ($(stat -c %s "$zip") bytes)"
echo "Their sums:     $dist/SHA256SUMS"
