#!/usr/bin/env bash
# An ordinary start sends the one start-up report to the address in pm_config.ini beside
# the program, with "&mac=" and the machine identity appended: after the query when the
# address has one, straight after the path when it has none. Quotes around the value are not
# part of it. Without the file no report is sent at all.
# The portal runs on the built-in layout's ports, so that the login page's request shows
# that start-up has passed the report step.
source "$(dirname "$0")/runner.sh"
layout_portal

# The settings file is looked up beside the program: run a copy that has one (or none).
cp "$build/bin/qev" "$work/qev"
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"

# run_client SETTINGS: one start with that pm_config.ini ("" for none), until the login page
# has been asked for (start-up is past the report then). $work/run.log gets the portal's
# lines of this run.
run_client() {
  rm -f "$work/pm_config.ini"
  [[ -n "$1" ]] && printf '%s' "$1" >"$work/pm_config.ini"
  local seen
  seen="$(wc -l <"$work/portal.log")"
  # shellcheck disable=SC2016 # the inner shell expands its own variables
  xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
    "$0" >/dev/null 2>&1 & pid=$!
    for i in $(seq 300); do tail -n "+$(($2 + 1))" "$1" | grep -q "GET :[0-9]* /micro2 " && break; sleep 0.1; done
    kill $pid 2>/dev/null; wait $pid 2>/dev/null; exit 0' "$work/qev" "$work/portal.log" "$seen"
  tail -n "+$((seen + 1))" "$work/portal.log" >"$work/run.log"
  grep -q "GET :[0-9]* /micro2 " "$work/run.log" || fail "the login page was never requested"
}

report_line() { grep '/micro2/Report' "$work/run.log" | head -1 || true; }

run_client $'[config]\r\nPM=http://127.0.0.1:'"$base"$'/micro2/Report?from=e2e\r\n'
line="$(report_line)"
[[ -n "$line" ]] || fail "no report request reached the portal"
[[ "$line" =~ /micro2/Report\?from=e2e\&mac=([0-9A-F]*)\  ]] || fail "report without &mac=: $line"
(( ${#BASH_REMATCH[1]} % 12 == 0 )) || fail "identity is not 12 hex digits per adapter: $line"
echo "with a query: $line"

run_client $'[config]\r\nPM=http://127.0.0.1:'"$base"$'/micro2/Report\r\n'
line="$(report_line)"
[[ "$line" =~ /micro2/Report\&mac=[0-9A-F]*\  ]] || fail "no-query report is not path&mac=: $line"
echo "without a query: $line"

run_client $'[config]\r\nPM="http://127.0.0.1:'"$base"$'/micro2/Report?from=quoted"\r\n'
line="$(report_line)"
[[ "$line" =~ /micro2/Report\?from=quoted\&mac=[0-9A-F]*\  ]] || fail "quoted value kept its quotes: $line"
echo "quoted: $line"

run_client ""
[[ -z "$(report_line)" ]] || fail "a report was sent without a settings file: $(report_line)"
echo "startup report e2e: ok"
