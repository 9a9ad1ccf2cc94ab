#!/usr/bin/env bash
# The qev program as a user starts it: the update modes without any display, and an
# ordinary start that stays running until it is closed.
source "$(dirname "$0")/runner.sh"
qev="$build/bin/qev"

# -u with three arguments touches nothing, even without a display.
echo new > "$work/pkg"; echo old > "$work/prog"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$qev" -u -p0 "$work/pkg" || fail "-u (3 args) exit code"
[[ "$(cat "$work/prog")" == old && "$(cat "$work/pkg")" == new ]] || fail "-u with three arguments touched a file"

# -u installs its own running program over the program file (never the file named as the
# package) and starts it with the -r line; no display needed.
export XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
echo "a package someone rewrote" > "$work/pkg"
printf '#!/bin/sh\necho old\n' > "$work/prog"; chmod 751 "$work/prog"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$qev" -u -p0 "$work/pkg" "$work/prog" || fail "-u exit code"
cmp -s "$qev" "$work/prog" || fail "program file is not the running update's own program"
[[ "$(stat -c %a "$work/prog")" == 751 ]] || fail "program file lost its mode"
grep -q "^update installed: $work/prog sha256 $(sha256sum < "$qev" | cut -c1-64)\$" "$work/state/qev/qev.log" ||
  fail "log: $(cat "$work/state/qev/qev.log")"

# -r removes a run folder of this user, and nothing named on its command line elsewhere.
run="$work/cache/qev/update/run-AbC123"
mkdir -p "$run" && chmod 700 "$work/cache/qev/update" "$run" && echo p > "$run/package"
echo a > "$work/copy"; echo b > "$work/package"
env -u DISPLAY QT_QPA_PLATFORM=xcb "$qev" -r -p0 "$work/copy" "$work/package" || fail "-r exit code"
[[ -e "$work/copy" && -e "$work/package" ]] || fail "-r removed files outside a run folder"
env -u DISPLAY QT_QPA_PLATFORM=xcb "$qev" -r -p0 "$run" "$run/package" || fail "-r exit code"
[[ ! -e "$run" ]] || fail "-r left the run folder behind"
unset XDG_STATE_HOME XDG_CACHE_HOME

# An ordinary start runs until it is closed.
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
# shellcheck disable=SC2016 # the inner shell expands its own variables
result="$(xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  "$0" >/dev/null 2>&1 & pid=$!
  sleep 6
  if kill -0 $pid 2>/dev/null; then echo running; kill $pid; wait $pid 2>/dev/null; else echo ended; fi; exit 0' "$qev")"
[[ "$result" == running ]] || fail "ordinary start did not stay running ($result)"
echo "startup e2e: ok"
