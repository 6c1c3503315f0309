#!/usr/bin/env bash
# Whether a run left anything behind in the real home folder or in /tmp.
#
#   scripts/leftovers.sh snapshot FILE   record what is there now
#   scripts/leftovers.sh compare FILE    list what is new or changed since; fails if anything is
#
# In CI (CI=true), where nothing else runs, it looks at everything: every
# path of the home folder, with the modification time of files (a folder's
# time changes with its entries, which are listed themselves), and every
# entry of /tmp. On a desktop, other programs write into the home folder
# meanwhile (a browser's cache, the recently-used list), so there it looks
# only at what our tests could leave: our temporary folders, display locks
# and sockets, the sound servers' and Wine's folders and files (Wine's menu
# entries and file types too), and anything named after the program.
# Builds inside this checkout, which may well lie in the home folder, never
# count. LARKSPAN_LEFTOVERS_IGNORE holds glob patterns, separated by blanks,
# of paths not to count; CI sets none.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)
tmp_dirs=(/tmp)
[ -n "${TMPDIR:-}" ] && [ "${TMPDIR%/}" != /tmp ] && [ -d "$TMPDIR" ] && tmp_dirs+=("$TMPDIR")

# "home PATH MTIME" lines for the paths under FOLDER... that the tests
# after -- select (home_names: "home PATH", so that only a new path
# counts), "tmp PATH" lines for the entries of the temporary folders.
# Missing folders are skipped.
home_find() {  # format folder... [-- test...]
  local format=$1 roots=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do roots+=("$1") && shift; done
  [ $# -gt 0 ] && shift
  find "${roots[@]}" -xdev \( -path "$checkout" -prune -o "$@" -printf "$format" \) 2>/dev/null || true
}
home_paths() { home_find 'home %p %T@\n' "$@"; }
home_names() { home_find 'home %p\n' "$@"; }
tmp_entries() {
  find "${tmp_dirs[@]}" /tmp/.X11-unix -mindepth 1 -maxdepth 1 \( "$@" -true \) -printf 'tmp %p\n' 2>/dev/null || true
}

everything() {
  find "$HOME" -xdev -mindepth 1 -path "$checkout" -prune -o \( -type d -printf 'home %p\n' \) \
    -o -printf 'home %p %T@\n' 2>/dev/null || true
  # The X servers' socket folder is the system's (systemd makes it at boot),
  # and an X server makes it where it is missing, as in a container: only
  # what is in it counts.
  tmp_entries ! -path /tmp/.X11-unix
}

ours() {
  local h=$HOME share=$HOME/.local/share
  # Wine's default prefix (a boot rewrites the registry files at its top)
  # and what its menu builder writes for a prefix's programs.
  home_paths "$h/.wine" -- -maxdepth 1
  home_paths "$share/applications" "$share/mime" "$share/icons" "$share/desktop-directories" \
    "$h/.config/menus" -- -iname '*wine*'
  # The sound servers' cookies and state. Only new paths: a desktop's own
  # server keeps its files there up to date while the tests run.
  home_names "$h/.config/pulse" "$h/.pulse" "$h/.pulse-cookie" "$h/.config/pipewire" \
    "$h/.local/state/wireplumber" "$h/.local/state/pipewire"
  # The program's own name, and screenshots dropped into the home folder.
  home_paths "$h" -- -maxdepth 4 \( -iname '*larkspan*' -o -name 'wayland-screenshot*' \)
  # Our temporary folders, display locks and sockets, Wine's and the sound
  # server's folders, Qt's fallback runtime folder.
  tmp_entries \( -name 'larkspan-*' -o -name '.X*-lock' -o -path '/tmp/.X11-unix/*' -o -name '.wine-*' \
    -o -name 'pulse-*' -o -name 'wayland-*' -o -name 'pipewire-*' -o -name 'runtime-*' -o -name 'dbus-*' \)
}

listing() {
  if [ "${CI:-}" = true ]; then everything; else ours; fi
}

ignored() {  # path
  local pattern
  for pattern in ${LARKSPAN_LEFTOVERS_IGNORE:-}; do
    # shellcheck disable=SC2053
    [[ $1 == $pattern ]] && return 0
  done
  return 1
}

case "${1:-}" in
snapshot)
  listing | sort -T "$(dirname "$2")" >"$2"
  ;;
compare)
  found=0
  while read -r where path _; do
    ignored "$path" && continue
    [ $found = 1 ] || echo "left behind (new or changed since the run began):"
    found=1
    echo "  $where: $path"
  done < <(listing | sort -T "$(dirname "$2")" | comm -13 "$2" -)
  if [ $found = 1 ]; then
    exit 1
  fi
  if [ "${CI:-}" = true ]; then
    echo "nothing left in $HOME or ${tmp_dirs[*]}"
  else
    echo "nothing of ours left in $HOME or ${tmp_dirs[*]} (outside CI only our kind of files are looked for)"
  fi
  ;;
*)
  echo "usage: $0 snapshot|compare FILE" >&2
  exit 2
  ;;
esac
