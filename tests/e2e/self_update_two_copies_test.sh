#!/usr/bin/env bash
# Two copies of the client, as an attacker would line them up. The first copy is offered
# a good, signed build and verifies it. Then the update host turns hostile: a second copy,
# started while the first still runs, is offered other, unsigned bytes under the same name,
# and the statement it asks for never arrives. The first copy is then closed through its
# quit question. Only the genuine build may ever run, or nothing: the program file ends up
# as the genuine build or unchanged, never the attacker's.
# Uses the built-in layout's hosts, like self_update_test.sh.
source "$(dirname "$0")/runner.sh"
source "$e2e_dir/update_client.sh"
logs+=("$work/hostile.log")

offer_update
static_port=$(("${QEV_DEMO_PORT_BASE:-18080}" + 3))
cp "$work/offer/qev next" "$work/evil"
printf 'EVIL-BUILD-MARK!' >>"$work/evil"

curl -s "http://127.0.0.1:$static_port/micro_client/mm/qev_new/update.xml" >"$work/manifest.xml"
grep -q 'qev next' "$work/manifest.xml" || fail "the portal's manifest names no package"

journey 1280x800 update_two_copies "$work" "$static_port" "$portal_pid"
pids+=("$(cat "$work/hostile.pid" 2>/dev/null || true)")

grep -q '\.sig' "$work/hostile.log" || fail "the second copy never asked the hostile host"
grep -q 'GET .*qev%20next \|GET .*qev+next ' "$work/hostile.log" &&
  fail "the second copy fetched the unsigned package before its statement"
[[ "$(tail -c 16 "$work/app/qev" | tr -d '\0')" != EVIL-BUILD-MARK! ]] || fail "the attacker's bytes were installed"
until_true cmp -s "$work/app/qev" "$work/offer/qev next" || true
if cmp -s "$work/app/qev" "$work/offer/qev next"; then
  echo "two-copies e2e: the genuine build was installed; the second copy fetched nothing unsigned: ok"
elif cmp -s "$work/app/qev" "$build/bin/qev"; then
  fail "nothing was installed although the first copy had verified the genuine build"
else
  fail "the program file is neither the genuine build nor the old one"
fi
