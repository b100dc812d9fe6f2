#!/usr/bin/env bash
# The state folder of a private service that the tests start (the print queue; a database server
# later). It lives under /tmp, never inside the build or the checkout: those may sit in a home
# folder closed to other users (mode 700), and the services run parts of themselves as their own
# user (lp, postgres), which must be able to enter the folder. Its name is random (mktemp), so a
# pointer file, usually in the build folder, records where it is for the tests to find it.
#   scripts/private-dir.sh make POINTER NAME   makes /tmp/hematix-NAME.XXXXXXXX, enterable by every
#                                              user but listable by its owner alone, records it in
#                                              POINTER and prints it; a folder POINTER named is removed
#   scripts/private-dir.sh remove POINTER      removes the folder POINTER names, and POINTER
# A service that needs a folder of its own user makes it inside (mkdir, chown) after `make`.
set -euo pipefail
action=${1:?make or remove}
pointer=${2:?pointer file}
root=/tmp

remove() {
  if [ -f "$pointer" ]; then
    local dir
    dir=$(cat "$pointer")
    # Only what this script made: a pointer edited by hand must not remove anything else.
    case "$dir" in
      "$root"/hematix-*.*) rm -rf -- "$dir" ;;
      *) echo "private-dir.sh: $pointer names '$dir', not a folder of ours; left alone" >&2 ;;
    esac
    rm -f -- "$pointer"
  fi
}

case "$action" in
  remove) remove ;;
  make)
    name=${3:?name}
    remove
    mkdir -p "$(dirname "$pointer")"
    dir=$(mktemp -d "$root/hematix-$name.XXXXXXXX")
    chmod 711 "$dir"
    echo "$dir" >"$pointer"
    echo "$dir"
    ;;
  *) echo "private-dir.sh: unknown action '$action'" >&2; exit 2 ;;
esac
