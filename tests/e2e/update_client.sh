# shellcheck shell=bash disable=SC2154 # $build, $work: runner.sh's
# Sourced by the self-update scripts after runner.sh; journeys/update_close.sh runs the client.

# offer_update [BASE]: the client copy in $work/app/qev, the "new build" in "$work/offer/qev next"
# (the same program with a marker appended; the loader ignores the tail), the portal on the
# built-in layout's ports (or BASE to BASE+3) offering it, and the client's folders in $work.
# shellcheck disable=SC2120 # BASE is optional
offer_update() {
  mkdir -p "$work/app" "$work/offer" "$work/tmp" "$work/state"
  cp "$build/bin/qev" "$work/app/qev"
  cp "$build/bin/qev" "$work/offer/qev next"
  printf 'NEW-BUILD-MARKER' >> "$work/offer/qev next"
  QEV_DEMO_PORT_BASE="${1:-${QEV_DEMO_PORT_BASE:-18080}}" layout_portal --offer-update "$work/offer/qev next"
  client_environment
  export TMPDIR="$work/tmp" XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
}

# installed: waits until the sealed copy has installed the new build over the program and
# the new program has removed the run folder, then checks that nothing else was left.
installed() {
  local runs="$work/cache/qev/update"
  marked() { [[ "$(tail -c 16 "$work/app/qev" | tr -d '\0')" == NEW-BUILD-MARKER ]]; }
  until_true marked && until_true not some ls -A "$runs" || true
  marked || fail "program file was not replaced"
  cmp -s "$work/app/qev" "$work/offer/qev next" || fail "installed program differs from the package"
  [[ -x "$work/app/qev" ]] || fail "installed program is not executable"
  [[ -z "$(ls -A "$runs")" ]] || fail "the run folder was left: $(ls -R "$runs")"
  [[ "$(stat -c %a "$runs")" == 700 ]] || fail "the update folder is not private"
  compgen -G "$work/app/*.tmp" >/dev/null && fail "a temporary copy was left beside the program"
  grep -q '^update installed: ' "$work/state/qev/qev.log" || fail "the update step did not log"
}
