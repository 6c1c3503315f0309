#!/usr/bin/env bash
# Tries the README's two commands as a new user would, on fresh Debian 12
# roots made with debootstrap (root only):
#   bare      the minimal system (--variant=minbase)
#   pipewire  the same with pipewire-audio installed, as on a GNOME desktop
#   clean     the minimal system and the .deb made here, nothing else
# In each: scripts/run.sh (no display there, so the headless demo), then
# scripts/test.sh, with the package list compared before and after each
# (no package may be removed); then the .deb that test.sh made is
# installed with apt-get, started on a virtual display, and removed, and
# nothing of it may remain. Prints the number of packages run.sh installed,
# the sizes of the .deb and the zip, and lintian's output. On a third root
# ("clean"), the .deb made here is installed on the bare system alone, so
# apt-get has to bring everything it depends on.
#
#   scripts/debian_roots.sh [clean|bare|pipewire]...   default: all three, one after the other
#
# LARKSPAN_ROOTS_DIR  where the roots go (default /var/tmp/larkspan-roots);
#                     removed at the end unless LARKSPAN_KEEP_ROOTS=1
# LARKSPAN_ROOTS_OUT  where the logs and the summary go (default out/debian-roots)
# LARKSPAN_MIRROR     the Debian mirror (default http://deb.debian.org/debian)
# LARKSPAN_DEBOOTSTRAP_TARBALL  a tarball made by debootstrap --make-tarball
#                     (--variant=minbase bookworm), to skip downloading the base
# CI=true             passed on, so test.sh adds i386 and runs 32-bit Wine too
#
# The checkout is copied with git clone: commit what you want tried.
set -uo pipefail
cd "$(dirname "$0")/.."
src=$PWD
[ "$(id -u)" -eq 0 ] || { echo "debian_roots: debootstrap and chroot need root" >&2; exit 1; }
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(clean bare pipewire)
work=${LARKSPAN_ROOTS_DIR:-/var/tmp/larkspan-roots}
out=$(mkdir -p "${LARKSPAN_ROOTS_OUT:-out/debian-roots}" && cd "${LARKSPAN_ROOTS_OUT:-out/debian-roots}" && pwd)
mirror=${LARKSPAN_MIRROR:-http://deb.debian.org/debian}
mkdir -p "$work"
bash scripts/deps.sh package >/dev/null
if [[ " ${kinds[*]} " == *" clean "* ]]; then
  bash scripts/package.sh >"$out/package.log" 2>&1 || { echo "scripts/package.sh failed; see $out/package.log"; exit 1; }
  host_deb=$(ls "$src"/dist/larkspan_*.deb)
fi
command -v debootstrap >/dev/null || apt-get install -y -q --no-remove debootstrap || exit 1

mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[$i]}" 2>/dev/null || umount -l "${mounted[$i]}" 2>/dev/null || true
  done
  mounted=()
}
# Processes still running inside a root (daemons the tests forgot) hold
# its mounts: end them, by their ids.
stop_processes() {  # root
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$1" ] && kill -KILL "${p#/proc/}" 2>/dev/null
  done
  sleep 1
}
cleanup() {
  [ -n "${current:-}" ] && stop_processes "$current"
  unmount_all
  if [ "${LARKSPAN_KEEP_ROOTS:-}" = 1 ]; then
    echo "roots kept in $work"
  else
    rm -rf --one-file-system "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mount_into() {  # root
  local r=$1
  mount -t proc proc "$r/proc" && mounted+=("$r/proc")
  mount -t sysfs sysfs "$r/sys" && mounted+=("$r/sys")
  mount --bind /dev "$r/dev" && mounted+=("$r/dev")
  mount --bind /dev/pts "$r/dev/pts" && mounted+=("$r/dev/pts")
  mount -t tmpfs -o mode=1777 shm "$r/dev/shm" && mounted+=("$r/dev/shm")
}

# A command inside the root, with the environment of a fresh login.
in_root() {  # root command...
  local r=$1
  shift
  chroot "$r" env -i HOME=/root TERM=dumb LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${CI:+CI=$CI} bash -c "$*"
}
packages() { in_root "$1" "dpkg-query -W -f='\${Package}:\${Architecture} \${Version}\n' | sort"; }
removed() {  # before after: packages in before that are gone
  comm -23 <(cut -d' ' -f1 "$1") <(cut -d' ' -f1 "$2")
}

# Installs the .deb with apt-get, finds it on the menu, starts it from the
# menu entry's command on a virtual display, closes it, removes it, and
# checks that nothing of it remains and nothing else was removed.
try_deb() {  # root deb-inside-root log-folder packages-before
  local r=$1 deb=$2 log=$3 before=$4 status left ok=0
  echo "the .deb: install, start, remove"
  in_root "$r" "DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-remove $deb" >"$log/deb.log" 2>&1
  status=$?
  in_root "$r" "dpkg -L larkspan" >"$log/deb-files.txt" 2>/dev/null
  packages "$r" >"$log/packages-3-deb.txt"
  say "apt-get install $(basename "$deb"): exit $status; installed" \
    "$(comm -13 "$before" "$log/packages-3-deb.txt" | wc -l) packages:" \
    "$(comm -13 "$before" "$log/packages-3-deb.txt" | cut -d: -f1 | head -12 | tr '\n' ' ')..."
  [ $status -eq 0 ] || ok=1
  if in_root "$r" "desktop-file-validate /usr/share/applications/org.example.Larkspan.desktop" >>"$log/deb.log" 2>&1; then
    say "  on the menu: /usr/share/applications/org.example.Larkspan.desktop"
  else
    say "  not on the menu"
    ok=1
  fi
  # Started from the menu's command on a virtual display, found by its title, closed.
  if in_root "$r" 'd=$(mktemp); Xvfb -displayfd 3 -nolisten tcp 3>$d >/dev/null 2>&1 & x=$!; sleep 2
      export DISPLAY=:$(cat $d) XDG_RUNTIME_DIR=$(mktemp -d); rm $d
      cmd=$(sed -n "s/^Exec=//p" /usr/share/applications/org.example.Larkspan.desktop)
      $cmd >/tmp/larkspan.log 2>&1 & a=$!
      for i in $(seq 100); do w=$(xdotool search --name "^Larkspan 1.0" 2>/dev/null | head -1); [ -n "$w" ] && break; sleep 0.1; done
      if [ -n "$w" ]; then echo "window $w"; xdotool windowfocus $w key alt+F4; fi
      for i in $(seq 50); do kill -0 $a 2>/dev/null || break; sleep 0.1; done
      wait $a; s=$?; cat /tmp/larkspan.log; kill $x; rm -rf "$XDG_RUNTIME_DIR" /tmp/larkspan.log; [ -n "$w" ] && [ $s -eq 0 ]' \
    >>"$log/deb.log" 2>&1; then
    say "  started from the menu entry's command on a virtual display: window shown, exit 0 on close"
  else
    say "  did not start (see $log/deb.log)"
    ok=1
  fi
  in_root "$r" "DEBIAN_FRONTEND=noninteractive apt-get remove -y -q larkspan" >>"$log/deb.log" 2>&1
  status=$?
  packages "$r" >"$log/packages-4-removed.txt"
  left=$(while read -r f; do [ -f "$r$f" ] && echo "$f"; done <"$log/deb-files.txt")
  say "apt-get remove larkspan: exit $status; removed" \
    "$(removed "$log/packages-3-deb.txt" "$log/packages-4-removed.txt" | tr '\n' ' '); files left: ${left:-none}"
  [ $status -eq 0 ] && [ -z "$left" ] &&
    [ "$(removed "$log/packages-3-deb.txt" "$log/packages-4-removed.txt")" = larkspan:amd64 ] || ok=1
  return $ok
}

summary=$out/summary.txt
: >"$summary"
say() { echo "$*" | tee -a "$summary"; }
# Runs scripts/NAME.sh in the root $r: says its exit status, its time and
# the packages it installed and removed, and the lines of its log that
# match; a failure or a removed package fails the whole run.
run_script() {  # name packages-before packages-after log-lines
  local start status before=$log/packages-$2.txt after=$log/packages-$3.txt
  echo "scripts/$1.sh (log: $log/$1.log)"
  start=$(date +%s)
  in_root "$r" "cd /root/larkspan && scripts/$1.sh" >"$log/$1.log" 2>&1
  status=$?
  packages "$r" >"$after"
  say "scripts/$1.sh: exit $status after $(($(date +%s) - start)) s;" \
    "installed $(comm -13 "$before" "$after" | wc -l) packages;" "removed: $(removed "$before" "$after" | tr '\n' ' ')"
  grep -E "$4" "$log/$1.log" | sed 's/^/  /' | tee -a "$summary"
  [ $status -eq 0 ] && [ -z "$(removed "$before" "$after")" ] || overall=1
}
overall=0

for kind in "${kinds[@]}"; do
  r=$work/$kind
  log=$out/$kind
  mkdir -p "$log"
  say "== $kind root"
  rm -rf --one-file-system "$r"
  echo "debootstrap (minbase) into $r"
  tarball=()
  [ -n "${LARKSPAN_DEBOOTSTRAP_TARBALL:-}" ] && tarball=(--unpack-tarball="$(realpath "$LARKSPAN_DEBOOTSTRAP_TARBALL")")
  if ! debootstrap --variant=minbase "${tarball[@]}" bookworm "$r" "$mirror" >"$log/debootstrap.log" 2>&1; then
    say "debootstrap failed; see $log/debootstrap.log"
    overall=1
    continue
  fi
  current=$r
  cat >"$r/etc/apt/sources.list" <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
SOURCES
  # No services start inside the root, as usual for a chroot.
  printf '#!/bin/sh\nexit 101\n' >"$r/usr/sbin/policy-rc.d"
  chmod +x "$r/usr/sbin/policy-rc.d"
  mount_into "$r"
  in_root "$r" "apt-get update -q" >"$log/setup.log" 2>&1
  if [ "$kind" = pipewire ]; then
    echo "installing pipewire-audio, as a GNOME desktop has it"
    in_root "$r" "DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-remove pipewire-audio" >>"$log/setup.log" 2>&1 ||
      { say "could not install pipewire-audio; see $log/setup.log"; overall=1; }
  fi
  if [ "$kind" = clean ]; then
    # The .deb made here, on a root that has nothing of ours: apt-get
    # brings what it depends on.
    cp "$host_deb" "$r/root/"
    packages "$r" >"$log/packages-0-start.txt"
    in_root "$r" "DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-remove ./root/$(basename "$host_deb")" \
      >"$log/deb-first.log" 2>&1 || { say "apt-get install of the .deb failed; see $log/deb-first.log"; overall=1; }
    packages "$r" >"$log/packages-1-deb.txt"
    say "apt-get install $(basename "$host_deb") on the clean root: installed" \
      "$(comm -13 "$log/packages-0-start.txt" "$log/packages-1-deb.txt" | wc -l) packages"
    # What the checks below use to start it and read its menu entry.
    in_root "$r" "DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-remove --no-install-recommends \
      xvfb xdotool desktop-file-utils" >>"$log/deb-first.log" 2>&1
    packages "$r" >"$log/packages-2-tools.txt"
    try_deb "$r" "/root/$(basename "$host_deb")" "$log" "$log/packages-2-tools.txt" || overall=1
    stop_processes "$r"
    unmount_all
    current=
    [ "${LARKSPAN_KEEP_ROOTS:-}" = 1 ] || rm -rf --one-file-system "$r"
    continue
  fi
  git clone -q --no-hardlinks "$src" "$r/root/larkspan"

  packages "$r" >"$log/packages-0-start.txt"
  say "packages at the start: $(wc -l <"$log/packages-0-start.txt")"

  run_script run 0-start 1-run '^(Screenshot|Recording|Delay|Program exit|The demo)'
  run_script test 1-run 2-test \
    '^  FAIL|^(ALL TESTS PASSED|SOME TESTS FAILED)|skipp|lintian:|^(Debian package|Windows zip):'

  deb=$(cd "$r/root/larkspan" && ls dist/larkspan_*.deb 2>/dev/null | head -1)
  if [ -z "$deb" ]; then
    say "no .deb was made"
    overall=1
  else
    try_deb "$r" "/root/larkspan/$deb" "$log" "$log/packages-2-test.txt" || overall=1
  fi
  say "sizes: $(cd "$r/root/larkspan" && ls -l dist/*.deb dist/*.zip 2>/dev/null | awk '{printf "%s %s bytes; ", $NF, $5}')"
  stop_processes "$r"
  unmount_all
  current=
  [ "${LARKSPAN_KEEP_ROOTS:-}" = 1 ] || rm -rf --one-file-system "$r"
done

echo
cat "$summary"
[ $overall -eq 0 ] && echo "debian roots: all passed" || echo "debian roots: something failed (logs in $out)"
exit $overall
