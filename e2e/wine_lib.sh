# Running Windows programs under Wine for the end-to-end scripts: a fresh
# prefix of our own, the helper that looks at windows from inside Wine, and
# the delay measure that knows Wine's playback clicks. lib.sh sources it
# (its "wine") and calls wine_cleanup on exit.
WINE_TOOLS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/tools

# Wine's 64-bit loader, started directly rather than through Debian's
# /usr/bin/wine: once wine32 is installed, that wrapper always starts the
# 32-bit loader, which a kernel without 32-bit support cannot run, so even
# the x86-64 program would fail. The 64-bit loader hands a 32-bit program
# to the 32-bit loader itself (WINELOADER tells Wine which loader it is).
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
export WINELOADER=$WINE

# A prefix of the test's own under its directory; no Mono or Gecko
# prompts, no menu entries or file associations. wineboot takes 10 to 25 s,
# so the first test in a private folder (scripts/test.sh runs them all in
# one) boots a prefix there once, and each test starts from a copy of it:
# hard links but for the registry, which Wine rewrites.
wine_boot() {
    local booted=$LARKSPAN_PRIVATE_ROOT/wine-booted
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    [ -x "$WINE" ] || { echo "wine is not installed (no $WINE)"; return 1; }
    (
        flock 9
        [ -d "$booted" ] && exit 0
        rm -rf "$booted.new"
        WINEPREFIX=$booted.new "$WINE" wineboot --init >"$E2E_DIR/wineboot.log" 2>&1 &&
            WINEPREFIX=$booted.new wineserver -w && mv "$booted.new" "$booted"
    ) 9>"$booted.lock" || { echo "wineboot failed:"; tail -5 "$E2E_DIR/wineboot.log"; return 1; }
    export WINEPREFIX=$E2E_DIR/prefix
    rm -rf "$WINEPREFIX"
    cp -al "$booted" "$WINEPREFIX" && cp --remove-destination "$booted"/*.reg "$WINEPREFIX/"
}

# The same, where Wine draws the frame itself, since Xvfb has no window manager.
wine_prefix() {
    wine_boot || return 1
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
}

wine_cleanup() {
    [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}

# Builds the window helper into the test's directory.
wine_helper() {
    x86_64-w64-mingw32-gcc -Wall -Wextra -O2 -o "$E2E_DIR/list_controls.exe" "$WINE_TOOLS/list_controls.c" -lgdi32 -lpsapi
}

list_controls() { "$WINE" "$E2E_DIR/list_controls.exe" "$@" 2>/dev/null | tr -d '\r'; }

# The delay of the rig's recording, as delay.py measures it, except that
# the tone counts as come out only where it swings both ways over 50 ms.
# Wine pads a playback underrun with zero bytes, which in 8-bit is a short
# full-scale click of one sign; delay.py would take one for the tone. That
# is Wine's behaviour, not the program's, so clicks under 50 ms are
# tolerated; one of 50 ms or more is printed as "click" and fails the check.
wine_delay() {  # file
    python3 - "$1" <<'PY'
import struct, sys
RATE, LOUD, WINDOW, PART = 11025, 4000, 551, 110  # 50 ms in five 10 ms parts
data = open(sys.argv[1], 'rb').read()
n = len(data) // 4
v = struct.unpack('<%dh' % (2 * n), data[:4 * n])
left, right = v[0::2], v[1::2]
run = longest = 0
for s in right:
    run = run + 1 if s <= -32000 else 0
    longest = max(longest, run)
if longest >= WINDOW:
    print('click'); sys.exit()
went_in = next((i for i, s in enumerate(left) if abs(s) > LOUD), None)
def swings(i):  # the first 10 ms and most of the 50 ms swing both ways
    ok = [max(p) > LOUD and min(p) < -LOUD for p in (right[j:j + PART] for j in range(i, i + WINDOW, PART))]
    return ok[0] and sum(ok) >= 3
came_out = None
if went_in is not None:
    came_out = next((i for i in range(went_in, len(right) - WINDOW)
                     if abs(right[i]) > LOUD and right[i] > -32000 and swings(i)), None)
print('none' if came_out is None else '%.4f' % ((came_out - went_in) / RATE))
PY
}

# What the application manifest of a Windows executable (resource 1 of
# type 24, as windres reads it back) asks for, one line each: "os GUID" per
# Windows, "level LEVEL UIACCESS", "dpiAware V", "dpiAwareness V",
# "dependency NAME VERSION". Fails when there is none or it is not XML.
wine_manifest() {  # exe
    x86_64-w64-mingw32-windres -i "$1" -O rc 2>/dev/null | sed -n '/^1 24 /,/^END/s/^  "\(.*\)"$/\1/p' |
        sed 's/""/"/g; s/\\n$//' | python3 -c '
import sys, xml.etree.ElementTree as ET
for e in ET.fromstring(sys.stdin.read()).iter():
    tag, get = e.tag.split("}")[-1], e.get
    line = {"supportedOS": ["os", get("Id")], "requestedExecutionLevel": ["level", get("level"), get("uiAccess")],
            "dpiAware": [tag, e.text], "dpiAwareness": [tag, e.text],
            "assemblyIdentity": ["dependency", get("name"), get("version")] if get("publicKeyToken") else 0}.get(tag)
    if line:
        print(*line)'
}
