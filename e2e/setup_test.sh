#!/usr/bin/env bash
# The set-up scripts. scripts/deps.sh against a fake apt-get, dpkg and
# dpkg-query: what each group installs, that apt-get never may remove a
# package, what a refusal says, that the PulseAudio daemon is never asked
# for beside PipeWire's PulseAudio service, that only CI adds the i386
# architecture, and only where the kernel runs 32-bit programs, that 32-bit
# Wine is given up with a line when apt cannot install it, and that package
# lists that fail to update are tried again and judged by the install.
# scripts/leftovers.sh against planted files: ours are found, a desktop's
# own are not, and in CI everything is.

source "$(dirname "$0")/lib.sh"
# A copy, so that what it notes for later lands in a build folder of its own.
mkdir -p "$E2E_DIR/repo/scripts"
cp "$E2E_ROOT/scripts/deps.sh" "$E2E_DIR/repo/scripts/"
deps=$E2E_DIR/repo/scripts/deps.sh

# The fakes log their arguments to $FAKE_LOG. Installed packages are in
# $FAKE_INSTALLED and $FAKE_STATE/installed, added architectures in
# $FAKE_STATE/archs. `apt-get install -s P` lists $FAKE_REMOVES (P:removed
# ...) as removals; a real install fails when FAKE_REFUSE is set, and for
# i386 packages when FAKE_REFUSE_I386 is. `apt-get update` fails for the
# i386 lists (FAKE_UPDATE=i386), the first time (once) or always (always:
# then no package can be found).
fakes=$E2E_DIR/bin
export FAKE_STATE=$E2E_DIR/state
mkdir -p "$fakes" "$FAKE_STATE"
cat >"$fakes/dpkg-query" <<'FAKE'
#!/bin/bash
all=$(printf '%s\n' $FAKE_INSTALLED; cat "$FAKE_STATE/installed" 2>/dev/null)
if [[ "${@: -1}" == -* ]]; then  # every package: "ARCH STATUS"
    for p in $all; do [[ $p == *:i386 ]] && echo "i386 install ok installed" || echo "amd64 install ok installed"; done
    exit 0
fi
for p in $all; do [ "$p" = "${@: -1}" ] && { echo "install ok installed"; exit 0; }; done
exit 1
FAKE
cat >"$fakes/dpkg" <<'FAKE'
#!/bin/bash
echo "dpkg $*" >>"$FAKE_LOG"
case $1 in
--print-foreign-architectures) echo "${FAKE_ARCHS:-}"; cat "$FAKE_STATE/archs" 2>/dev/null ;;
--add-architecture) echo "$2" >>"$FAKE_STATE/archs" ;;
--remove-architecture) sed -i "/^$2\$/d" "$FAKE_STATE/archs" ;;
esac
exit 0
FAKE
cat >"$fakes/apt-get" <<'FAKE'
#!/bin/bash
echo "apt-get $*" >>"$FAKE_LOG"
if [[ " $* " == *" -s "* ]]; then
    for pair in ${FAKE_REMOVES:-}; do [ "${pair%%:*}" = "${@: -1}" ] && echo "Remv ${pair#*:} [1.0]"; done
    exit 0
fi
if [ "$1" = update ]; then
    n=$(($(cat "$FAKE_STATE/updates" 2>/dev/null) + 1)); echo $n >"$FAKE_STATE/updates"
    case ${FAKE_UPDATE:-}:$n in
    i386:*) grep -qsx i386 "$FAKE_STATE/archs" && list="bookworm-security/main i386" ;;
    once:1 | always:*) list="bookworm/main amd64" ;;
    esac
    [ -z "${list:-}" ] || { printf 'Err:6 http://mirror.invalid %s Packages\n  File has unexpected size (3 != 4). Mirror sync in progress?\n' "$list" && exit 100; }
elif [ "$1" = install ]; then
    error=
    [ -n "${FAKE_REFUSE:-}" ] && error="Packages need to be removed but remove is disabled."
    [ "${FAKE_UPDATE:-}" = always ] && error="Unable to locate package ${*: -1}"
    [ -n "${FAKE_REFUSE_I386:-}" ] && [[ " $* " == *":i386 "* ]] && error="Error, pkgProblemResolver::Resolve generated breaks"
    [ -z "$error" ] || { echo "E: $error" >&2 && exit 100; }
    printf '%s\n' "$@" | grep -v '^-\|::' | tail -n +2 >>"$FAKE_STATE/installed"
fi
exit 0
FAKE
printf '#!/bin/sh\necho "sleep $*" >>"$FAKE_LOG"\n' >"$fakes/sleep"
chmod +x "$fakes"/*
export FAKE_LOG=$E2E_DIR/log

run() {  # installed-packages deps-args...; sets OUT, STATUS and INSTALLS (the packages apt-get install got)
    export FAKE_INSTALLED=$1
    shift
    : >"$FAKE_LOG"
    rm -f "$FAKE_STATE"/*
    OUT=$(PATH="$fakes:$PATH" bash "$deps" "$@" 2>&1)
    STATUS=$?
    INSTALLS=" $(grep '^apt-get install' "$FAKE_LOG" | grep -v ' -s ' | tr ' ' '\n' | grep -v '^-' | grep -v '^apt-get$\|^install$\|::' | tr '\n' ' ')"
}
has() {  # package...: apt-get install got every one of them
    local p
    for p in "$@"; do [[ "$INSTALLS" == *" $p "* ]] || return 1; done
}
hasnt() { ! has "$1"; }

echo "Nothing missing"
run "$(bash "$deps" --list build run | tr '\n' ' ')" build run
e2e_check "no apt-get at all" test ! -s "$FAKE_LOG" -a "$STATUS" -eq 0

echo "A desktop: scripts/run.sh's groups"
run "" build run
e2e_check "installs the compiler, Qt and libpulse" has g++ cmake qt6-base-dev libpulse-dev
e2e_check "and Qt's X11 and Wayland plugins" has qt6-qpa-plugins qt6-wayland
for p in pulseaudio pipewire xvfb wine wine64 valgrind libgtest-dev lintian; do
    e2e_check "no $p" hasnt $p
done
e2e_check "every install runs with --no-remove" \
    test "$(grep -c '^apt-get install' "$FAKE_LOG")" -eq "$(grep -c '^apt-get install.* --no-remove' "$FAKE_LOG")"
e2e_check "apt's own output shows (no -qq)" test "$(grep -c '^apt-get .*-qq' "$FAKE_LOG")" -eq 0

echo "The sound server the tests and the demo get"
run "" test demo
e2e_check "bare machine: the PulseAudio daemon" has pulseaudio
e2e_check "and PipeWire's stack, for the tests on both servers" has pipewire pipewire-pulse wireplumber
CI=false run "pulseaudio" test
e2e_check "a desktop's PulseAudio daemon: not PipeWire's beside it" hasnt pipewire-pulse
CI=true run "pulseaudio" test
e2e_check "in CI: PipeWire's stack beside the daemon" has pipewire-pulse wireplumber
run "pipewire-pulse" test
e2e_check "beside pipewire-pulse: PipeWire's stack" has pipewire wireplumber dbus-daemon
e2e_check "and not the PulseAudio daemon" hasnt pulseaudio
run "pipewire-audio" test demo
e2e_check "beside pipewire-audio: not the PulseAudio daemon" hasnt pulseaudio
run "pipewire" demo
e2e_check "demo where PipeWire is installed: PipeWire's PulseAudio service" has pipewire-pulse wireplumber
e2e_check "and not the PulseAudio daemon" hasnt pulseaudio

echo "apt refuses"
FAKE_REFUSE=1 FAKE_REMOVES="pulseaudio:pipewire-audio" run "" test
e2e_check "fails" test "$STATUS" -ne 0
e2e_check "names the package and what it would remove" grep -q "installing pulseaudio would remove: pipewire-audio" <<<"$OUT"
e2e_check "and says that nothing was removed" grep -q "nothing was installed or removed" <<<"$OUT"

echo "32-bit Wine"
# The kernel's answer comes from a fake loader: one that runs, one that
# cannot (as on kernels without 32-bit support), and none at all.
printf '#!/bin/sh\necho "ld.so (fake) stable release"\n' >"$fakes/ld32-runs"
printf '#!/bin/sh\necho "cannot execute binary file: Exec format error" >&2\nexit 126\n' >"$fakes/ld32-fails"
chmod +x "$fakes"/ld32-*
unset LARKSPAN_NO_32BIT  # the run's own answer is not the fakes'
no_i386() { test "$(grep -c -- '--add-architecture' "$FAKE_LOG")" -eq 0 && hasnt wine32:i386; }
export LARKSPAN_LOADER32=$fakes/ld32-runs
CI= LARKSPAN_ADD_I386= run "" wine32
e2e_check "outside CI: skipped with a line that says so" grep -q "skipping 32-bit Wine" <<<"$OUT"
e2e_check "and no architecture added" no_i386
CI=true run "" wine32
e2e_check "in CI: the i386 architecture added" grep -q -- '--add-architecture i386' "$FAKE_LOG"
e2e_check "and wine32:i386 installed" has wine32:i386
LARKSPAN_LOADER32=$fakes/ld32-fails CI=true run "" wine32
e2e_check "a kernel without 32-bit programs: skipped, saying why" grep -q "skipping 32-bit Wine: this kernel runs no 32-bit programs.*Exec format error" <<<"$OUT"
e2e_check "and nothing added" no_i386
LARKSPAN_NO_32BIT=1 CI=true run "i386-already" wine32
e2e_check "LARKSPAN_NO_32BIT=1: skipped, saying why" grep -q "skipping 32-bit Wine: LARKSPAN_NO_32BIT=1" <<<"$OUT"
e2e_check "and nothing added" no_i386
LARKSPAN_LOADER32=$E2E_DIR/none CI=true run "" wine32
e2e_check "no loader to ask: libc6-i386 (native) installed for the probe" has libc6-i386
e2e_check "and, still none, nothing added" no_i386
LARKSPAN_LOADER32=$fakes/ld32-fails FAKE_ARCHS=i386 run "wine32:i386" wine32 wine
e2e_check "wine32 installed but unable to run: --runs-32bit says why" \
    grep -q "Exec format error" <<<"$(LARKSPAN_LOADER32=$fakes/ld32-fails bash "$deps" --runs-32bit)"
e2e_check "and the 64-bit Wine group still installs" has wine64
CI=true run "" wine wine32
last_install=$(grep '^apt-get install' "$FAKE_LOG" | grep -v ' -s ' | tail -n 1)
alone_last() { [[ $last_install == *" wine32:i386 "* && $last_install != *" wine64 "* ]]; }
e2e_check "32-bit Wine installs last, on its own" alone_last
# What a failed 32-bit install leaves: a line, repeated by --wine32-status
# (and so by the 32-bit Wine test), no i386 package and no architecture.
given_up() {  # reason
    test "$STATUS" -eq 0 && has wine64 && ! grep -q ':i386' "$FAKE_STATE/installed" &&
        grep -q "skipping 32-bit Wine: $1" <<<"$OUT" &&
        grep -q "^$1" <<<"$(PATH="$fakes:$PATH" bash "$deps" --wine32-status)" &&
        grep -q -- '--remove-architecture i386' "$FAKE_LOG" && ! grep -qx i386 "$FAKE_STATE/archs"
}
FAKE_UPDATE=i386 FAKE_REFUSE_I386=1 CI=true run "" wine wine32
e2e_check "the i386 lists fail: the rest installs, 32-bit Wine is given up and i386 removed" \
    given_up "the i386 package lists did not download (.*main i386 Packages File has unexpected size"
FAKE_REFUSE_I386=1 CI=true run "" wine wine32
e2e_check "apt's resolver refuses wine32:i386: the same" \
    given_up "apt cannot install wine32:i386 beside this machine's packages (E: Error, pkgProblemResolver::Resolve generated breaks)"
FAKE_UPDATE=i386 FAKE_REFUSE_I386=1 FAKE_ARCHS=i386 CI=true run "libc6:i386" wine wine32
e2e_check "an i386 architecture that was there before stays" \
    test "$STATUS" -eq 0 -a "$(grep -c -- '--remove-architecture' "$FAKE_LOG")" -eq 0

echo "Package lists that fail to update"
FAKE_UPDATE=once run "" build
e2e_check "once: updated again after a pause, and everything installs" \
    test "$STATUS" -eq 0 -a "$(grep -c '^apt-get update' "$FAKE_LOG")" -eq 2 -a "$(grep -c '^sleep' "$FAKE_LOG")" -eq 1
e2e_check "and the install went ahead" has g++ qt6-base-dev
FAKE_UPDATE=always run "" build
e2e_check "always, and the install then fails: the run stops" test "$STATUS" -ne 0 -a "$(grep -c '^apt-get update' "$FAKE_LOG")" -eq 3
e2e_check "naming the lists that failed" grep -q "lists had failed to update: .*bookworm/main amd64 Packages" <<<"$OUT"
e2e_check "and apt's message" grep -q "Unable to locate package" <<<"$OUT"

echo "Leftovers"
# Other runs may come and go in /tmp meanwhile, so each check looks for
# its own path in the list rather than at the exit status.
leftovers() { CI=$1 bash "$E2E_ROOT/scripts/leftovers.sh" "$2" "$E2E_DIR/before"; }
mkdir -p "$HOME/.cache" "$HOME/.local/share/applications"
leftovers "" snapshot
cache_file=$HOME/.cache/browser/cache2/entry
mkdir -p "${cache_file%/*}" && echo page >"$cache_file"
menu_entry=$HOME/.local/share/applications/wine-extension-txt.desktop
echo "[Desktop Entry]" >"$menu_entry"
planted=$(mktemp -d /tmp/larkspan-e2e.XXXXXX)
out=$(leftovers "" compare)
e2e_check "a desktop's file written under ~/.cache: not counted" test "$(grep -cF "$cache_file" <<<"$out")" -eq 0
e2e_check "Wine's menu entry: counted" grep -qF "$menu_entry" <<<"$out"
e2e_check "our temporary folder: counted" grep -qF "$planted" <<<"$out"
rm -rf "$planted" "$menu_entry"
leftovers true snapshot
echo more >>"$cache_file"
e2e_check "in CI, a changed file under ~/.cache: counted" grep -qF "$cache_file" <<<"$(leftovers true compare)"

e2e_result "setup scripts"
