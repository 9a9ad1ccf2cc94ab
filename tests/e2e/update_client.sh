# Sourced by the self-update scripts (after portal.sh, with $build, $work and fail set).
#
# offer_update: the client copy in $work/app/qev, the "new build" in "$work/offer/qev next"
# (the same program with a marker appended; the loader ignores the tail), the portal on the
# built-in layout's ports offering it, and the client's folders in $work.
offer_update() {
  mkdir -p "$work/app" "$work/offer" "$work/tmp" "$work/state"
  cp "$build/bin/qev" "$work/app/qev"
  cp "$build/bin/qev" "$work/offer/qev next"
  printf 'NEW-BUILD-MARKER' >> "$work/offer/qev next"
  local layout_base="${QEV_DEMO_PORT_BASE:-18080}"
  start_portal_on "$layout_base" --offer-update "$work/offer/qev next" ||
    fail "portal did not start (ports $layout_base..$((layout_base + 3)) busy?)"
  export TMPDIR="$work/tmp" XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
  export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
}

# run_client APP PORTAL_LOG starts the client APP under Xvfb, waits until the update check
# has ended (its log line: served, refused or none), runs $QEV_BEFORE_CLOSE when set, then
# closes it with the login stack's close button, answers the quit question with OK and
# waits for its end. Needs XDG_STATE_HOME set (the client's log).
# The steps that close a client on a screen of its own: the close button of the login
# stack (centred 663x391 stack; button at 615,15, 32x32), then OK to the quit question,
# then its end. The "bash -c" blocks that run under xvfb-run source this file again
# ($QEV_UPDATE_CLIENT_SH) to have it.
close_client() {
  local pid="$1" box="" i
  kill -0 "$pid" 2>/dev/null || return 0 # closed already (by $QEV_BEFORE_CLOSE)
  xdotool mousemove 939 235 click 1
  for i in $(seq 100); do
    box="$(xdotool search --onlyvisible --name "^Velmora Client$" 2>/dev/null | head -1)"
    [[ -n "$box" ]] && break; sleep 0.1
  done
  [[ -n "$box" ]] && { xdotool windowfocus --sync "$box"; xdotool key Return; }
  for i in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && { echo "client did not close"; kill "$pid"; }
  return 0
}
QEV_UPDATE_CLIENT_SH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/update_client.sh"
export QEV_UPDATE_CLIENT_SH

# With QEV_CLIENT_BUS=1 the client runs on a private session bus with its accessibility on
# (for tests/e2e/atspi_probe.py). $QEV_BEFORE_CLOSE gets the client's id as QEV_CLIENT_PID.
run_client() {
  local bus=()
  [[ "${QEV_CLIENT_BUS:-}" == 1 ]] && bus=(dbus-run-session --)
  xvfb-run -a -s "-screen 0 1280x800x24" "${bus[@]}" bash -c '
    app="$1"; log="$2"; source "$QEV_UPDATE_CLIENT_SH"
    [[ "${QEV_CLIENT_BUS:-}" == 1 ]] && export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    "$app" >/dev/null 2>&1 & pid=$!
    for i in $(seq 300); do grep -q "packages/qev+next.sig" "$log" && break; sleep 0.1; done
    for i in $(seq 300); do
      grep -qE "^update .*served by|^update package refused|^update check" \
        "$XDG_STATE_HOME/qev/qev.log" 2>/dev/null && break
      sleep 0.1
    done
    [[ -n "${QEV_BEFORE_CLOSE:-}" ]] && QEV_CLIENT_PID=$pid bash -c "$QEV_BEFORE_CLOSE"
    close_client $pid
    exit 0' _ "$1" "$2"
}
