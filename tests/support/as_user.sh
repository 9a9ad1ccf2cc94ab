#!/usr/bin/env bash
# Runs a test program as an ordinary user (nobody), with a home and a temporary folder of
# its own that it can write and its own copy of the program (as a player's install is), so
# the paths a test takes only when it is not root are run too.
# Usage: as_user.sh PROGRAM [ARGS...]. Exits 77 (skipped) when not started as root.
set -euo pipefail
if [[ $(id -u) != 0 ]]; then echo "SKIP: needs root to become another user"; exit 77; fi
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
chown nobody:nogroup "$home"
program="$home/$(basename "$1")"
install -o nobody -g nogroup -m 755 "$1" "$program"
shift
env -u XDG_CACHE_HOME -u XDG_DATA_HOME -u XDG_STATE_HOME -u XDG_RUNTIME_DIR \
  HOME="$home" TMPDIR="$home" \
  setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$program" "$@"
