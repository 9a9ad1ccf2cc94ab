# shellcheck shell=bash disable=SC2154 # $portal, $work: the sourcing script's
# Sourced by the end-to-end scripts: start and stop the demo portal.
# Needs $portal (the qev-demo-portal binary) and $work (a scratch folder); the portal's
# output goes to $work/portal.log. Sets portal_pid and base (the portal port).

portal_pid=""

stop_portal() {
  if [[ -n "$portal_pid" ]] && kill -0 "$portal_pid" 2>/dev/null; then
    kill -TERM "$portal_pid" 2>/dev/null || true
    wait "$portal_pid" 2>/dev/null || true
  fi
  portal_pid=""
}

# start_portal_on BASE [options...]: one attempt on BASE..BASE+3; false when it did not come up.
start_portal_on() {
  base="$1"
  shift
  : >"$work/portal.log"
  "$portal" --port "$base" "$@" >"$work/portal.log" 2>&1 &
  portal_pid=$!
  for _ in $(seq 100); do
    grep -q '^static http' "$work/portal.log" && return 0
    kill -0 "$portal_pid" 2>/dev/null || break
    sleep 0.05
  done
  stop_portal
  return 1
}

# start_portal [options...]: on a free block of four ports, trying a few; false when none worked.
start_portal() {
  local attempt
  for attempt in 0 1 2 3 4; do
    start_portal_on $((28080 + (($$ + attempt * 97) % 1000) * 4)) "$@" && return 0
  done
  return 1
}

# make_cert NAME [CA]: NAME.pem and NAME.key in $work for 127.0.0.1, signed by CA (CA.pem and
# CA.key in $work), else by itself.
make_cert() {
  local issuer=(-x509)
  [[ -z "${2:-}" ]] || issuer=(-CA "$work/$2.pem" -CAkey "$work/$2.key" -addext basicConstraints=CA:FALSE)
  openssl req "${issuer[@]}" -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.pem" \
    -days 2 -subj "/CN=qev test $1" -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
}
