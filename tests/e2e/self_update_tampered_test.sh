#!/usr/bin/env bash
# A package changed after it was signed (as anyone on the update host's path could change
# it): the client downloads it and its statement, refuses it, deletes both, logs why, and
# at exit hands over to nothing: the program file stays as it was.
# Uses the built-in layout's hosts, like self_update_test.sh.
source "$(dirname "$0")/runner.sh"
source "$e2e_dir/update_client.sh"

offer_update
# The portal has signed the package it read at start; now one byte of it changes (same size).
printf 'X' | dd of="$work/offer/qev next" bs=1 seek=4096 conv=notrunc status=none

journey 1280x800 update_close "$work/app/qev" "$work/portal.log"

grep -q 'packages/qev%20next ' "$work/portal.log" || fail "the package was not fetched"
grep -q 'packages/qev%20next.sig .*-> 20[06]' "$work/portal.log" || fail "the statement was not fetched"
runs="$work/cache/qev/update"
cmp -s "$work/app/qev" "$build/bin/qev" || fail "the program file was changed"
until_true not some ls -A "$runs" || fail "files were kept: $(ls -R "$runs")"
log="$(grep -v -e '^qev .* started on ' -e '^rendering: ' "$work/state/qev/qev.log" 2>/dev/null | head -1 || true)"
[[ "$log" == "update package refused: wrong SHA-256" ]] || fail "log: '$log'"
echo "tampered self-update e2e: ok"
