#!/usr/bin/env bash
# The web profile stays the operator's and bounded, with the limits at 64 MiB
# (QEV_PROFILE_LIMIT_MIB): a foreign ad frame gets no storage, a page that writes 96 MiB is
# sent to about:blank, and the next start removes a foreign site's storage and cookies and
# cuts the profile back under the limit. The ad's host is a second portal on 127.0.0.2.
set -euo pipefail
build="$1"
portal="$build/bin/qev-demo-portal"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
source "$here/portal.sh"
source "$here/journey.sh"
ad_pid=""
trap 'stop_portal; [[ -z $ad_pid ]] || kill "$ad_pid"; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  echo "--- steps"; cat "$work/steps.log" 2>/dev/null
  echo "--- client log"; cat "$work/home/state/qev/qev.log" 2>/dev/null
  exit 1
}

base="${QEV_DEMO_PORT_BASE:-18080}"
start_portal_on "$base" || fail "portal did not start (ports $base..$((base + 3)) busy?)"
"$portal" --port "$base" --bind 127.0.0.2 >"$work/ad.log" 2>&1 &
ad_pid=$!
until_true "grep -q '^static http' \"$work/ad.log\"" || fail "no portal on 127.0.0.2"
client_environment "$work"
export QEV_PROFILE_LIMIT_MIB=64

set +e
run_journey 1280x800 profile_bound "$build/bin/qev" "$work" "$base" >"$work/steps.log" 2>&1
result=$?
set -e
((result == 0)) || fail "the journey ended with $result"
cat "$work/steps.log"
echo "profile bound e2e: ok"
