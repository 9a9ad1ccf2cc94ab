# Sourced by the self-update scripts: run_client APP PORTAL_LOG starts the client APP under
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
