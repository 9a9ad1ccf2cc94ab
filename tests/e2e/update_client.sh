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
  export TMPDIR="$work/tmp" XDG_STATE_HOME="$work/state"
  export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
}

# run_client APP PORTAL_LOG starts the client APP under
# Xvfb, waits until the offered package's statement has been asked for and the client has
# dealt with it, then closes it with the login stack's close button, answers the quit
# question with OK and waits for its end. Needs TMPDIR set (the client's download folder).
run_client() {
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    app="$1"; log="$2"; downloads="$TMPDIR/qev-$(id -u)"
    "$app" >/dev/null 2>&1 & pid=$!
    for i in $(seq 300); do grep -q "packages/qev+next.sig" "$log" && break; sleep 0.1; done
    # Checked means: no statement file any more (it is deleted either way) and the package
    # either whole or gone. Held for half a second, so the moment between the request and
    # the statement file appearing does not count.
    settled=0
    for i in $(seq 300); do
      if [[ ! -e "$downloads/qev next.sig" && ! -e "$downloads/qev next.sig.tmp" ]]; then
        settled=$((settled + 1)); [[ $settled -ge 5 ]] && break
      else
        settled=0
      fi
      sleep 0.1
    done
    # The close button of the login stack (centred 663x391 stack; button at 615,15, 32x32).
    xdotool mousemove 939 235 click 1
    # The client asks before it quits: OK.
    for i in $(seq 100); do
      box="$(xdotool search --onlyvisible --name "^Velmora Client$" 2>/dev/null | head -1)"
      [[ -n "$box" ]] && break; sleep 0.1
    done
    [[ -n "$box" ]] && { xdotool windowfocus --sync "$box"; xdotool key Return; }
    for i in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    kill -0 $pid 2>/dev/null && { echo "client did not close"; kill $pid; }
    exit 0' _ "$1" "$2"
}
