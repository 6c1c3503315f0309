#!/usr/bin/env bash
# Whether a run left anything behind in the real home folder or in /tmp.
#
#   scripts/leftovers.sh snapshot FILE   record what is there now
#   scripts/leftovers.sh compare FILE    list what is new or changed since; fails if anything is
#
# Home: every path, with the modification time of files (a folder's time
# changes with its entries, which are listed themselves), except inside
# this checkout, whose builds may well live under the home folder. /tmp:
# its entries.
# LARKSPAN_LEFTOVERS_IGNORE holds glob patterns, separated by blanks, of
# paths that programs other than ours write meanwhile (a desktop's own
# files, say); CI sets none.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)

listing() {
  find "$HOME" -xdev -mindepth 1 -path "$checkout" -prune -o \( -type d -printf 'home %p\n' \) \
    -o -printf 'home %p %T@\n' 2>/dev/null || true
  find /tmp -mindepth 1 -maxdepth 1 -printf 'tmp %p\n' 2>/dev/null || true
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
  echo "nothing left in $HOME or /tmp"
  ;;
*)
  echo "usage: $0 snapshot|compare FILE" >&2
  exit 2
  ;;
esac
