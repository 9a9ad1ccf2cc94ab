# Sourced by the self-update scripts: run_client APP PORTAL_LOG starts the client APP under
# Xvfb, waits until it has asked the portal for the offered package's statement, gives the
# check a moment, then closes it with the login stack's close button and waits for its end.
run_client() {
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    app="$1"; log="$2"
    "$app" >/dev/null 2>&1 & pid=$!
    for i in $(seq 200); do grep -q "packages/qev+next.sig" "$log" && break; sleep 0.1; done
    sleep 3
    # The close button of the login stack (centred 663x391 stack; button at 615,15, 32x32).
    xdotool mousemove 939 235 click 1
    for i in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    kill -0 $pid 2>/dev/null && { echo "client did not close"; kill $pid; }
    exit 0' _ "$1" "$2"
}
