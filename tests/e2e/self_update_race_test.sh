#!/usr/bin/env bash
# Another process of the same user rewrites every file of the client's download folders,
# over and over, from the moment the package was verified until well after the hand-over
# (through the client's exit, the update step and its copy). Only the genuine build may
# reach the program file: the bytes started and installed are a sealed copy of what was
# verified, never a file read again by its name.
# Uses the built-in layout's hosts, like self_update_test.sh.
source "$(dirname "$0")/runner.sh"
source "$e2e_dir/update_client.sh"

offer_update
# The attacker's build: the same size as the genuine one, marked at its end.
cp "$work/offer/qev next" "$work/evil"
printf 'EVIL-BUILD-MARK!' | dd of="$work/evil" bs=1 seek=$(($(stat -c %s "$work/evil") - 16)) \
  conv=notrunc status=none
journey 1280x800 update_close "$work/app/qev" "$work/portal.log" \
  "$e2e_dir/journeys/update_meddle.sh" "$XDG_CACHE_HOME" "$work/evil" "$work/meddler.pid"
pids+=("$(cat "$work/meddler.pid" 2>/dev/null || true)")

grep -q '^update 0.2.1.2 served by ' "$work/state/qev/qev.log" ||
  fail "the package was not verified: $(cat "$work/state/qev/qev.log")"
changed() { ! cmp -s <(tail -c 16 "$work/app/qev") <(tail -c 16 "$build/bin/qev"); }
until_true changed || true
[[ "$(tail -c 16 "$work/app/qev" | tr -d '\0')" != EVIL-BUILD-MARK! ]] || fail "the attacker's bytes were installed"
if cmp -s "$work/app/qev" "$work/offer/qev next"; then
  echo "self-update race e2e: the genuine build was installed while its files were rewritten: ok"
elif cmp -s "$work/app/qev" "$build/bin/qev"; then
  grep -qE '^update (package refused: changed after it was verified|not started: the package could not be read)' \
    "$work/state/qev/qev.log" ||
    fail "nothing was installed and nothing said why: $(cat "$work/state/qev/qev.log")"
  echo "self-update race e2e: the rewritten package was refused at exit and nothing ran: ok"
else
  fail "the program file is neither the genuine build nor the old one"
fi
