#!/usr/bin/env bash
# Run by self_update_race_test.sh (as update_close.sh's script) once the client has verified
# the update: another process of the user that, for about 20 s from the background (its id in
# $3), rewrites every regular file under the download folders ($1) in place (truncate + write)
# with the attacker's build ($2); the client closes a second later.
meddle() {
  local end=$((SECONDS + 20))
  while ((SECONDS < end)); do
    for f in "$1"/qev/update/*/*; do
      [[ -f "$f" ]] && cat "$2" >"$f" 2>/dev/null
    done
    sleep 0.01
  done
}
meddle "$1" "$2" >/dev/null 2>&1 &
echo $! >"$3"
sleep 1
