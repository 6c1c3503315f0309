#!/usr/bin/env bash
# The downloads that scripts/package.sh makes: the .deb passes
# desktop-file-validate, appstreamcli validate and lintian (an error from
# any fails), its dependencies come from dpkg-shlibdeps, and it holds what
# puts the program on the menu; the Windows zip holds both executables,
# each with its icon and version information, and the README. A second
# build in another folder gives both again byte for byte (dist/SHA256SUMS).

source "$(dirname "$0")/lib.sh"
root=$E2E_ROOT

bash "$root/scripts/package.sh" >"$E2E_DIR/package.log" 2>&1 || { cat "$E2E_DIR/package.log"; echo "package: scripts/package.sh failed"; exit 1; }
tail -2 "$E2E_DIR/package.log"
deb=$(ls "$root"/dist/larkspan_*.deb)
zip=$root/dist/larkspan-1.0-windows.zip

echo "The .deb"
tree=$E2E_DIR/deb
dpkg-deb -x "$deb" "$tree"
desktop=$tree/usr/share/applications/org.example.Larkspan.desktop
metainfo=$tree/usr/share/metainfo/org.example.Larkspan.metainfo.xml
entry() { sed -n "s/^$1=//p" "$desktop"; }
for f in usr/bin/larkspan usr/share/man/man1/larkspan.1.gz usr/share/doc/larkspan/copyright \
    usr/share/doc/larkspan/changelog.gz; do
    e2e_check "holds /$f" test -f "$tree/$f"
done
e2e_check "desktop entry passes desktop-file-validate" desktop-file-validate "$desktop"
e2e_check "desktop entry is in AudioVideo;Audio;" test "$(entry Categories)" = "AudioVideo;Audio;"
e2e_check "desktop entry starts the installed program" test -x "$tree/usr/bin/$(entry Exec)"
e2e_check "its icon is there as SVG and as a 48x48 PNG" \
    test -f "$tree/usr/share/icons/hicolor/scalable/apps/$(entry Icon).svg" \
    -a -f "$tree/usr/share/icons/hicolor/48x48/apps/$(entry Icon).png"
e2e_check "metainfo passes appstreamcli validate" appstreamcli validate --no-net "$metainfo"
e2e_check "metainfo launches the desktop entry" grep -q ">$(basename "$desktop")</launchable>" "$metainfo"
e2e_check "metainfo has release 1.0" grep -q '<release version="1.0"' "$metainfo"
e2e_check "metainfo has a screenshot" grep -q '<screenshot type="default">' "$metainfo"
depends=$(dpkg-deb -f "$deb" Depends)
echo "  Depends: $depends"
# The libraries the binary links, each as dpkg-shlibdeps names its package.
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libpulse0 libcanberra0 libc6; do
    e2e_check "depends on $lib" grep -q "\b$lib (>=" <<<"$depends"
done
# What it loads at run time: Qt's display plugins; and what it recommends.
e2e_check "depends on Qt's X11 and Wayland plugins" grep -q "qt6-qpa-plugins, qt6-wayland" <<<"$depends"
recommends=$(dpkg-deb -f "$deb" Recommends)
echo "  Recommends: $recommends"
e2e_check "recommends the warning sound's driver and theme" \
    grep -q "libcanberra-pulse, sound-theme-freedesktop" <<<"$recommends"
lintian --fail-on error "$deb" >"$E2E_DIR/lintian.txt" 2>&1
status=$?
grep -v '^running with root privileges' "$E2E_DIR/lintian.txt" | sed 's/^/  lintian: /'
e2e_check "lintian reports no error" test $status -eq 0

echo "The Windows zip"
unzip -q -d "$E2E_DIR/zip" "$zip"
e2e_check "holds larkspan.exe, larkspan-x86.exe, README.txt and LICENSE.txt" \
    test "$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')" = "LICENSE.txt README.txt larkspan-x86.exe larkspan.exe "
e2e_check "larkspan.exe is x86-64" grep -q 'PE32+ executable (GUI) x86-64' <(file "$E2E_DIR/zip/larkspan.exe")
e2e_check "larkspan-x86.exe is 32-bit x86" grep -q 'PE32 executable (GUI) Intel 80386' <(file "$E2E_DIR/zip/larkspan-x86.exe")
for exe in larkspan.exe:x86_64 larkspan-x86.exe:i686; do
    name=${exe%%:*}
    "${exe#*:}-w64-mingw32-windres" -i "$E2E_DIR/zip/$name" -O rc -o "$E2E_DIR/$name.rc" 2>/dev/null
    e2e_check "$name has an icon" grep -q '^/\* Type: group icon' "$E2E_DIR/$name.rc"
    e2e_check "$name has product name, version 1.0 and a description" \
        test "$(grep -c '"ProductName", "Larkspan"\|"ProductVersion", "1.0"\|"FileVersion", "1.0"\|"FileDescription", "..*"' \
            "$E2E_DIR/$name.rc")" -eq 4
done
e2e_check "README.txt has Windows line ends" grep -q $'\r$' "$E2E_DIR/zip/README.txt"

echo "The same files from a second build in another folder"
sed 's/^/  /' "$root/dist/SHA256SUMS"
# Checks the files in folder $1 against the sums of the first build.
sums_match() { (cd "$1" && sha256sum -c "$root/dist/SHA256SUMS" | sed 's/^/  /'; exit "${PIPESTATUS[0]}"); }
e2e_check "SHA256SUMS holds the sums of both" test "$(sums_match "$root/dist" | grep -c ': OK$')" -eq 2
# What a download holds, member by member, to show which one differs.
members() { ar tv "$1" && dpkg-deb -f "$1" && dpkg-deb -c "$1" && dpkg-deb -I "$1" md5sums || unzip -v "$1" | tail -n +2; }
# A clone of this commit with the working tree's uncommitted changes, built
# with another umask and time zone: a full build, 1 to 2 minutes on 2 cores.
# On a tmpfs where there is one with room (as /tmp is on many desktops), so
# that what the filesystem reports cannot reach the package.
second=$E2E_DIR/second start=$SECONDS
shm_free=$(df -k --output=avail /dev/shm 2>/dev/null | tail -n 1)
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && [ "${shm_free:-0}" -gt 1048576 ] &&
    shm=$(mktemp -d /dev/shm/larkspan-package.XXXXXX); then
    trap 'rm -rf "$shm"; e2e_cleanup' EXIT
    second=$shm/second
fi
echo "  first build on $(stat -f -c %T "$root"), the second on $(stat -f -c %T "${second%/second}")"
if git -C "$root" rev-parse -q --verify HEAD >/dev/null; then
    git clone -q "$root" "$second" && git -C "$second" checkout -q --detach "$(git -C "$root" rev-parse HEAD)" &&
        git -C "$root" diff --binary HEAD | git -C "$second" apply --allow-empty &&
        (umask 077 && TZ=Pacific/Kiritimati bash "$second/scripts/package.sh") >"$E2E_DIR/package2.log" 2>&1 ||
        tail -n 20 "$E2E_DIR/package2.log"
    echo "  built again in $second in $((SECONDS - start)) s"
    e2e_check "the second build's .deb and zip are identical" sums_match "$second/dist"
    for f in "$(basename "$deb")" "$(basename "$zip")"; do
        cmp -s "$root/dist/$f" "$second/dist/$f" && continue
        echo "  $f: what differs"
        if command -v diffoscope >/dev/null; then diffoscope --text - "$root/dist/$f" "$second/dist/$f" | head -n 200
        else diff <(members "$root/dist/$f" 2>/dev/null) <(members "$second/dist/$f" 2>/dev/null) | sed 's/^/  /'; fi
    done
else
    echo "  skipped: $root is not a git checkout, there is no commit to build again"
fi

e2e_result "package"
