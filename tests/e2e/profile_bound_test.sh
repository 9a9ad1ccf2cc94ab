#!/usr/bin/env bash
# The web profile stays the operator's and bounded, with the limits at 64 MiB
# (QEV_PROFILE_LIMIT_MIB): a foreign ad frame gets no storage, a page that writes 96 MiB is
# sent to about:blank, and the next start removes a foreign site's storage and cookies and
# cuts the profile back under the limit. The ad's host is a second portal on 127.0.0.2.
source "$(dirname "$0")/runner.sh"
layout_portal
"$portal" --port "$base" --bind 127.0.0.2 >"$work/ad.log" 2>&1 &
pids+=($!)
until_true has "$work/ad.log" '^static http' || fail "no portal on 127.0.0.2"
client_environment
export QEV_PROFILE_LIMIT_MIB=64
journey 1280x800 profile_bound "$build/bin/qev" "$work" "$base"
echo "profile bound e2e: ok"
