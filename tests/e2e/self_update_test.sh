#!/usr/bin/env bash
# The whole self-update as a user lives it: the client finds a newer build on the static
# host, downloads it and its statement (signed by the demo portal with the key the build
# folder made for itself, which the client of the same build trusts), and when the user
# closes the client the new build replaces the program file, starts, and cleans up after
# itself. While it waits, the player signs in and the game window's status bar says that the
# version is ready (read through the accessibility bus; screenshot in
# BUILD_DIR/test-artifacts/update_ready.png); the player closes the game window.
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3, by default
# 18080..18083), so those ports must be free.
source "$(dirname "$0")/runner.sh"
source "$e2e_dir/update_client.sh"
mkdir -p "$artifacts"
rm -f "$artifacts/update_ready.png"
offer_update
journey --bus 1280x800 update_close "$work/app/qev" "$work/portal.log" "$e2e_dir/journeys/update_waiting.sh" \
  "$work/portal.log" "$work/status.txt" "$artifacts/update_ready.png"

grep -q 'update.xml' "$work/portal.log" || fail "the manifest was not fetched"
grep -q 'packages/qev%20next ' "$work/portal.log" || fail "the package was not fetched (blank sent as %20)"
grep -q 'packages/qev%20next.sig .*-> 20[06]' "$work/portal.log" || fail "the statement was not fetched"
# The statement is asked for before the package.
sig_line="$(grep -n 'packages/qev%20next.sig ' "$work/portal.log" | head -1 | cut -d: -f1)"
pkg_line="$(grep -n 'packages/qev%20next ' "$work/portal.log" | head -1 | cut -d: -f1)"
((sig_line < pkg_line)) || fail "the package was asked for before its statement"
grep -q '^update 0.2.1.2 served by ' "$work/state/qev/qev.log" ||
  fail "the client logged: $(cat "$work/state/qev/qev.log")"
grep -q 'refused' "$work/state/qev/qev.log" && fail "the client logged: $(cat "$work/state/qev/qev.log")"
status="$(cat "$work/status.txt" 2>/dev/null || true)"
[[ "$status" == "Version 0.2.1.2 is ready: it installs when you close the client" ]] ||
  fail "the status bar reads \"$status\""
[[ -s "$artifacts/update_ready.png" ]] || fail "no screenshot"

# The sealed copy waits for the client, installs itself, starts the new program, which
# removes the run folder.
installed
echo "self-update e2e: ok"
