#!/usr/bin/env bash
# An ordinary start sends the one start-up report to the address in pm_config.ini beside
# the program, with "&mac=" and the machine identity appended.
set -euo pipefail
build="$1"
portal="$build/bin/qev-demo-portal"
work="$(mktemp -d)"
source "$(dirname "$0")/portal.sh"
trap 'stop_portal; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; cat "$work/portal.log"; exit 1; }

start_portal || fail "portal did not start"

# The settings file is looked up beside the program: run a copy that has one.
cp "$build/bin/qev" "$work/qev"
printf '[config]\r\nPM=http://127.0.0.1:%s/micro2/Report?from=e2e\r\n' "$base" > "$work/pm_config.ini"
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  "$0" >/dev/null 2>&1 & pid=$!
  for i in $(seq 100); do grep -q "Report" "$1" && break; sleep 0.1; done
  kill $pid 2>/dev/null; wait $pid 2>/dev/null; exit 0' "$work/qev" "$work/portal.log"

line="$(grep '/micro2/Report' "$work/portal.log" | head -1)"
[[ -n "$line" ]] || fail "no report request reached the portal"
[[ "$line" =~ /micro2/Report\?from=e2e\&mac=([0-9A-F]*) ]] || fail "report without &mac=: $line"
(( ${#BASH_REMATCH[1]} % 12 == 0 )) || fail "identity is not 12 hex digits per adapter: $line"
echo "startup report e2e: ok ($line)"
