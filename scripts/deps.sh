#!/usr/bin/env bash
# Installs the Debian packages that one or more jobs need, and nothing
# else, skipping those already there. Runs apt-get as root, or through sudo.
#
#   scripts/deps.sh GROUP...          install the groups' packages
#   scripts/deps.sh --list GROUP...   print them, install nothing
#   scripts/deps.sh --demo-server     the sound server the demo runs
#   scripts/deps.sh --runs-32bit      whether this machine runs 32-bit programs
#                                     (exit 0), or a line saying why not
#   scripts/deps.sh --wine32-status   whether 32-bit Wine is here to run (exit 0),
#                                     or the line that says why not
#
# Groups (scripts/run.sh takes build and run; the demo adds demo; the tests
# take them all):
#   build    compile the Linux program
#   run      run it on a desktop (Qt's X11 and Wayland plugins, a font)
#   demo     the headless demo: a virtual display, a private sound server,
#            the tools that click, record and take the screenshot
#   test     unit tests, formatting, memory checks, end-to-end tools
#   wine     the Windows build and running it under Wine (64-bit)
#   wine32   32-bit Wine, for the x86 executable; only in CI (CI=true) or
#            with LARKSPAN_ADD_I386=1, since it adds the i386 architecture,
#            and only where the kernel runs 32-bit programs at all. It is
#            installed last, on its own: when its lists, apt's resolver or a
#            download fail, it is skipped with a line that says so, the rest
#            stands, and an architecture added for it is removed again
#   package  the .deb, the Windows zip and their checks
#
# Never removes a package: apt-get runs with --no-remove, and when apt
# would have to remove something, this says what and stops. A package list
# that fails to update (a mirror in mid-sync) is tried again; if it still
# fails, the install is tried with the lists there are, and only an install
# that then fails stops the run, naming the lists.
set -euo pipefail

# A desktop's sound server is the one its session runs. The PulseAudio
# daemon conflicts with pipewire-audio (which GNOME depends on), so where
# PipeWire serves the PulseAudio protocol it is PipeWire we run privately.
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
pipewire_desktop() { installed pipewire-audio || installed pipewire-pulse; }
pipewire_packages=(pipewire pipewire-pulse wireplumber dbus-daemon)
wine_x_libraries=(libxrender1 libxrandr2 libxcursor1 libxi6 libxfixes3 libxinerama1 libxcomposite1)

# The demo runs PipeWire's server where the machine has PipeWire at all.
demo_server() {
  if pipewire_desktop || installed pipewire; then echo pipewire; else echo pulseaudio; fi
}

group_packages() {  # group
  case "$1" in
  # libwayland-dev: asking the Wayland compositor whether it draws title bars.
  build) echo cmake g++ make pkg-config qt6-base-dev libpulse-dev libcanberra-dev libwayland-dev libxcb1-dev ;;
  # The dialog's font (DejaVu Sans Condensed, from -extra) and its fallback.
  # The warning sound: libcanberra's PulseAudio driver and the sound theme.
  run)
    echo qt6-qpa-plugins qt6-wayland fonts-dejavu-core fonts-dejavu-extra fonts-liberation2
    echo libcanberra-pulse sound-theme-freedesktop
    ;;
  demo)
    echo xvfb xdotool x11-utils imagemagick sox pulseaudio-utils python3 procps
    if [ "$(demo_server)" = pipewire ]; then echo "${pipewire_packages[@]}"; else echo pulseaudio; fi
    ;;
  test)
    echo clang-format libgtest-dev libgmock-dev libbenchmark-dev valgrind git xclip x11-apps
    # Wayland and screen-reader tests: a compositor, a session bus, AT-SPI from python.
    echo weston dbus-daemon dbus-bin at-spi2-core gir1.2-atspi-2.0 python3-gi
    # GNOME's and KDE's compositors, headless; mutter's screenshots come
    # through PipeWire and GStreamer, KWin's title bars from its Breeze style.
    echo mutter gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-good kwin-wayland kwin-style-breeze
    # Reads the title bar's caption back out of the Wayland screenshots.
    echo tesseract-ocr
    # The screen-reader test: GNOME Shell headless with Orca, whose
    # speech-dispatcher speaks through its dummy module.
    echo gnome-shell orca
    # The tests' private servers, both where no desktop runs one: never the
    # PulseAudio daemon beside PipeWire's, and never PipeWire's beside a
    # desktop's PulseAudio daemon (outside CI, the daemon already installed
    # is taken for the desktop's). A server left out is skipped with a line.
    if pipewire_desktop; then
      echo "${pipewire_packages[@]}"
    elif installed pulseaudio && [ "${CI:-}" != true ]; then
      echo pulseaudio
    else
      echo pulseaudio "${pipewire_packages[@]}"
    fi
    ;;
  wine)
    echo mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
      g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine64
    # What Wine recommends for fonts and its X11 driver, which Wine loads at
    # run time: without them dialogs would be measured and drawn otherwise.
    echo fonts-wine fonts-liberation "${wine_x_libraries[@]}"
    ;;
  wine32) echo wine32:i386 "${wine_x_libraries[@]/%/:i386}" ;;
  package) echo dpkg-dev file lintian desktop-file-utils appstream zip unzip ;;
  *)
    echo "deps: unknown group '$1' (build, run, demo, test, wine, wine32, package)" >&2
    return 2
    ;;
  esac
}

# Adding an architecture changes the machine's package configuration, so
# only CI or a user who asks for it does.
may_add_i386() { [ "${CI:-}" = true ] || [ "${LARKSPAN_ADD_I386:-}" = 1 ]; }

# Some kernels (VM and container hosts) run no 32-bit programs: there the
# i386 packages fail in their install scripts and 32-bit Wine cannot start.
# The probe is libc6-i386's loader, a package of the native architecture,
# so asking adds no architecture. LARKSPAN_NO_32BIT=1 makes the probe fail,
# to try the path without; LARKSPAN_LOADER32 points it at another loader.
loader32=${LARKSPAN_LOADER32:-/lib32/ld-linux.so.2}
runs_32bit() {  # sets why_not_32bit when it fails
  local out
  if [ "${LARKSPAN_NO_32BIT:-}" = 1 ]; then
    why_not_32bit="LARKSPAN_NO_32BIT=1 says this machine runs no 32-bit programs"
  elif [ ! -e "$loader32" ]; then
    why_not_32bit="there is no 32-bit loader to try ($loader32, from libc6-i386)"
  elif ! out=$("$loader32" --version 2>&1 </dev/null); then
    why_not_32bit="this kernel runs no 32-bit programs ($loader32 --version: ${out##*: })"
  else
    return 0
  fi
  return 1
}

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
apt_env=(env DEBIAN_FRONTEND=noninteractive)

# Why 32-bit Wine was left out the last time, for e2e/wine_x86_test.sh to
# repeat; removed once it is installed.
wine32_note=$(dirname "$0")/../build/wine32-skipped.txt

# Says in plain words which installed packages apt wanted to remove, and
# for which of ours, then what to do.
explain_refusal() {  # package...
  local p removed any=0
  for p in "$@"; do
    removed=$(apt-get install -s --no-install-recommends "$p" 2>/dev/null | awk '/^Remv / {print $2}' | tr '\n' ' ')
    if [ -n "$removed" ]; then
      echo "deps: installing $p would remove: $removed(they conflict with it)." >&2
      any=1
    fi
  done
  if [ $any = 1 ]; then
    echo "deps: nothing was installed or removed. Those packages belong to this machine; keep them." >&2
    echo "      If you want the change anyway, install the package above yourself with apt-get," >&2
    echo "      read what apt will remove, and run this again." >&2
  else
    echo "deps: apt-get could not install $* (its message is above); nothing was removed." >&2
  fi
}

list_only=0
case "${1:-}" in
--demo-server)
  demo_server
  exit 0
  ;;
--runs-32bit)
  runs_32bit && exit 0
  echo "$why_not_32bit"
  exit 1
  ;;
--wine32-status)
  if ! runs_32bit; then
    echo "$why_not_32bit"
  elif installed wine32:i386; then
    exit 0
  elif [ -s "$wine32_note" ]; then
    cat "$wine32_note"
  else
    echo "32-bit Wine (wine32:i386) is not installed (it needs the i386 architecture, which" \
      "scripts/deps.sh adds in CI, CI=true, or with LARKSPAN_ADD_I386=1)"
  fi
  exit 1
  ;;
--list)
  list_only=1
  shift
  ;;
esac
[ $# -gt 0 ] || { echo "usage: $0 [--list] GROUP... | --demo-server | --runs-32bit | --wine32-status" >&2; exit 2; }

for group in "$@"; do
  group_packages "$group" >/dev/null || exit 2
done

# Package lists a mirror in mid-sync cannot serve fail now and then: apt
# retries each download, and the update is tried again after a pause.
# Sets failed_lists to apt's lines for the lists that still failed.
failed_lists=
update_lists() {
  local try log
  log=$(mktemp)
  for try in 1 2 3; do
    [ $try = 1 ] || { echo "deps: updating the package lists again in 10 s (try $try of 3)" && sleep 10; }
    echo "deps: updating the package lists"
    if "${sudo[@]}" apt-get update -q -o Acquire::Retries=3 -o DPkg::Lock::Timeout=300 2>&1 | tee "$log"; then
      failed_lists=$(grep -A1 '^Err:' "$log" | grep -v '^--$' | paste -d' ' - - | sed 's/^Err:[0-9]* *//; s/  */ /g')
      # apt-get update says 0 when a list failed but an older copy was kept.
      [ -z "$failed_lists" ] && ! grep -q '^[WE]: Some index files failed' "$log" && break
    else
      failed_lists=$(grep -A1 '^Err:' "$log" | grep -v '^--$' | paste -d' ' - - | sed 's/^Err:[0-9]* *//; s/  */ /g')
    fi
    [ -n "$failed_lists" ] || failed_lists="apt-get update failed (its message is above)"
  done
  rm -f "$log"
  [ -z "$failed_lists" ]
}

# Installs those of the packages that are missing; with the lists as they
# are when their update failed, and then names the failed lists if the
# install fails too. apt's last error line is in install_error.
install_error=
install_missing() {  # what-for package...
  local for_what=$1 p missing=() log status
  shift
  for p in "$@"; do
    installed "$p" || [[ " ${missing[*]} " == *" $p "* ]] || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  if [ ${#sudo[@]} -gt 0 ] && ! command -v sudo >/dev/null; then
    echo "deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
    echo "      Run this as root, or install sudo, or install them yourself with apt-get." >&2
    return 1
  fi

  echo "deps: installing ${#missing[@]} packages for $for_what: ${missing[*]}"
  update_lists || echo "deps: some package lists did not update; trying the install with the lists there are" >&2
  # Without recommends: the groups name everything they need, and a
  # recommended sound server or desktop piece would be more than asked for.
  log=$(mktemp)
  if "${sudo[@]}" "${apt_env[@]}" apt-get install -y -q --no-remove --no-install-recommends -o DPkg::Lock::Timeout=300 \
    -o Dpkg::Use-Pty=0 "${missing[@]}" 2>&1 | tee "$log"; then status=0; else status=$?; fi
  install_error=$(grep '^E: ' "$log" | tail -n 1)
  rm -f "$log"
  if [ $status -ne 0 ]; then
    explain_refusal "${missing[@]}"
    [ -z "$failed_lists" ] || echo "deps: these package lists had failed to update: $failed_lists" >&2
    return 1
  fi
  echo "deps: installed ${#missing[@]} packages"
}

i386_configured() { dpkg --print-foreign-architectures | grep -qx i386; }
i386_in_use() { dpkg-query -W -f='${Architecture} ${Status}\n' 2>/dev/null | grep -q '^i386 install ok installed'; }

# 32-bit Wine, after everything else, so that nothing waits on it or fails
# with it. Whatever keeps it out is said in one line, which
# e2e/wine_x86_test.sh repeats, and the machine is left as it was.
skip_wine32() {  # why
  echo "deps: skipping 32-bit Wine: $1" >&2
  mkdir -p "$(dirname "$wine32_note")" && echo "$1" >"$wine32_note"
}
install_wine32() {
  local packages added=0
  if ! runs_32bit; then
    skip_wine32 "$why_not_32bit"
    return
  fi
  read -r -a packages <<<"$(group_packages wine32)"
  if ! i386_configured; then
    echo "deps: adding the i386 architecture for 32-bit Wine"
    "${sudo[@]}" dpkg --add-architecture i386
    added=1
  fi
  if install_missing "32-bit Wine" "${packages[@]}"; then
    rm -f "$wine32_note"
  elif [[ "$failed_lists" == *" i386 "* ]]; then
    skip_wine32 "the i386 package lists did not download (${failed_lists//$'\n'/; }), and apt could not install wine32:i386 without them"
  elif [ -n "$failed_lists" ]; then
    skip_wine32 "package lists did not download once i386 was added (${failed_lists//$'\n'/; }), and apt could not install wine32:i386 ($install_error)"
  elif [[ "$install_error" == *"broken packages"* || "$install_error" == *"generated breaks"* || "$install_error" == *"remove is disabled"* ]]; then
    skip_wine32 "apt cannot install wine32:i386 beside this machine's packages ($install_error)"
  elif [[ "$install_error" == *"Failed to fetch"* ]]; then
    skip_wine32 "a download of the i386 packages failed ($install_error)"
  else
    skip_wine32 "apt-get could not install wine32:i386 (${install_error:-see its message above})"
  fi
  if [ $added = 1 ] && ! i386_in_use; then
    echo "deps: removing the i386 architecture again, as nothing of it got installed"
    "${sudo[@]}" dpkg --remove-architecture i386
  fi
}

wanted=() with_wine32=0
for group in "$@"; do
  read -r -a packages <<<"$(group_packages "$group" | tr '\n' ' ')"
  if [ "$group" = wine32 ]; then
    if ! may_add_i386 && ! i386_configured; then
      echo "deps: skipping 32-bit Wine: it needs the i386 architecture, which only CI (CI=true)" \
        "or LARKSPAN_ADD_I386=1 adds" >&2
      continue
    fi
    if [ $list_only = 1 ]; then
      runs_32bit || { echo "deps: skipping 32-bit Wine: $why_not_32bit" >&2 && continue; }
    else
      # Installed on its own, last; the probe's loader (a native package)
      # comes with the other groups.
      with_wine32=1
      [ -e "$loader32" ] || [ "${LARKSPAN_NO_32BIT:-}" = 1 ] || wanted+=(libc6-i386)
      continue
    fi
  fi
  wanted+=("${packages[@]}")
done
if [ $list_only = 1 ]; then
  printf '%s\n' "${wanted[@]}" | awk '!seen[$0]++'
  exit 0
fi
install_missing "$*" "${wanted[@]}" || exit 1
[ $with_wine32 = 0 ] || install_wine32
