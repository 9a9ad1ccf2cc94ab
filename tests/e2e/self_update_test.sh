#!/usr/bin/env bash
# The whole self-update as a user lives it: the client finds a newer build on the static
# host, downloads it and its statement (signed by the demo portal with the key the build
# folder made for itself, which the client of the same build trusts), and when the user
# closes the client the new build replaces the program file, starts, and cleans up after
# itself.
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3, by default
# 18080..18083), so those ports must be free.
set -euo pipefail
build="$1"
portal="$build/bin/qev-demo-portal"
work="$(mktemp -d)"
source "$(dirname "$0")/portal.sh"
source "$(dirname "$0")/update_client.sh"
trap 'stop_portal; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- portal"; cat "$work/portal.log"; exit 1; }

offer_update
run_client "$work/app/qev" "$work/portal.log"

grep -q 'update.xml' "$work/portal.log" || fail "the manifest was not fetched"
grep -q 'packages/qev+next ' "$work/portal.log" || fail "the package was not fetched (blank sent as +)"
grep -q 'packages/qev+next.sig .*-> 20[06]' "$work/portal.log" || fail "the statement was not fetched"
# The statement is asked for before the package.
sig_line="$(grep -n 'packages/qev+next.sig ' "$work/portal.log" | head -1 | cut -d: -f1)"
pkg_line="$(grep -n 'packages/qev+next ' "$work/portal.log" | head -1 | cut -d: -f1)"
((sig_line < pkg_line)) || fail "the package was asked for before its statement"
grep -q '^update 0.2.1.2 served by ' "$work/state/qev/qev.log" ||
  fail "the client logged: $(cat "$work/state/qev/qev.log")"
grep -q 'refused' "$work/state/qev/qev.log" && fail "the client logged: $(cat "$work/state/qev/qev.log")"

# The sealed copy waits for the client, installs itself, starts the new program, which
# removes the run folder.
runs="$work/cache/qev/update"
for _ in $(seq 100); do
  [[ "$(tail -c 16 "$work/app/qev")" == NEW-BUILD-MARKER && -z "$(ls -A "$runs")" ]] && break
  sleep 0.1
done
[[ "$(tail -c 16 "$work/app/qev")" == NEW-BUILD-MARKER ]] || fail "program file was not replaced"
cmp -s "$work/app/qev" "$work/offer/qev next" || fail "installed program differs from the package"
[[ -x "$work/app/qev" ]] || fail "installed program is not executable"
[[ -z "$(ls -A "$runs")" ]] || fail "the run folder was left: $(ls -R "$runs")"
[[ "$(stat -c %a "$runs")" == 700 ]] || fail "the update folder is not private"
ls "$work/app" | grep -q '\.tmp$' && fail "a temporary copy was left beside the program"
grep -q '^update installed: ' "$work/state/qev/qev.log" || fail "the update step did not log"
echo "self-update e2e: ok"
