#!/usr/bin/env bash
# A second user who owns the player's cache (made first under a shared folder) links its
# qev/update to the player's own folder holding a run-named folder; the client's clean-up
# step, pointed at a run folder "in" it, must leave the player's files alone. Skipped, with
# the reason, where the test is not root or setpriv is missing.
source "$(dirname "$0")/runner.sh"
if [[ "$(id -u)" != 0 ]]; then echo "SKIP: needs root to act as a second user"; exit 0; fi
command -v setpriv >/dev/null || { echo "SKIP: no setpriv to act as a second user"; exit 0; }
chmod 755 "$work"
mkdir -m 1777 "$work/shared"
mkdir -p "$work/mine" && mkdir -m 700 "$work/mine/run-abcdef"
echo "the player's" >"$work/mine/run-abcdef/package"
touch -d '10 minutes ago' "$work/mine/run-abcdef"
setpriv --reuid=65534 --regid=65534 --clear-groups sh -c \
  "mkdir -p '$work/shared/cache/qev' && ln -s '$work/mine' '$work/shared/cache/qev/update'"

run="$work/shared/cache/qev/update/run-abcdef"
XDG_CACHE_HOME="$work/shared/cache" XDG_STATE_HOME="$work/state" QT_QPA_PLATFORM=offscreen \
  timeout 60 "$build/bin/qev" -r -p0 "$run" "$run/package"
[[ "$(cat "$work/mine/run-abcdef/package" 2>/dev/null)" == "the player's" ]] ||
  fail "the player's folder behind the link was touched"
echo "PASS: the link at qev/update led nowhere"
