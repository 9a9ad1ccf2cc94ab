# shellcheck shell=bash disable=SC2154,SC2016 # $build, $work: the sourcing test's; until_true evaluates
# Sourced by the self-update scripts (after portal.sh, with $build, $work and fail set); brings
# journey.sh, whose journeys/update_close.sh runs the client.
source "$(dirname "${BASH_SOURCE[0]}")/journey.sh"

# offer_update [BASE]: the client copy in $work/app/qev, the "new build" in "$work/offer/qev next"
# (the same program with a marker appended; the loader ignores the tail), the portal on the
# built-in layout's ports (or BASE to BASE+3) offering it, and the client's folders in $work.
# shellcheck disable=SC2120 # BASE is optional
offer_update() {
  mkdir -p "$work/app" "$work/offer" "$work/tmp" "$work/state"
  cp "$build/bin/qev" "$work/app/qev"
  cp "$build/bin/qev" "$work/offer/qev next"
  printf 'NEW-BUILD-MARKER' >> "$work/offer/qev next"
  local layout_base="${1:-${QEV_DEMO_PORT_BASE:-18080}}"
  start_portal_on "$layout_base" --offer-update "$work/offer/qev next" ||
    fail "portal did not start (ports $layout_base..$((layout_base + 3)) busy?)"
  client_environment "$work"
  export TMPDIR="$work/tmp" XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
}

# installed: waits until the sealed copy has installed the new build over the program and
# the new program has removed the run folder, then checks that nothing else was left.
installed() {
  local runs="$work/cache/qev/update"
  marked() { [[ "$(tail -c 16 "$work/app/qev" | tr -d '\0')" == NEW-BUILD-MARKER ]]; }
  until_true 'marked && [[ -z "$(ls -A "$runs")" ]]'
  marked || fail "program file was not replaced"
  cmp -s "$work/app/qev" "$work/offer/qev next" || fail "installed program differs from the package"
  [[ -x "$work/app/qev" ]] || fail "installed program is not executable"
  [[ -z "$(ls -A "$runs")" ]] || fail "the run folder was left: $(ls -R "$runs")"
  [[ "$(stat -c %a "$runs")" == 700 ]] || fail "the update folder is not private"
  compgen -G "$work/app/*.tmp" >/dev/null && fail "a temporary copy was left beside the program"
  grep -q '^update installed: ' "$work/state/qev/qev.log" || fail "the update step did not log"
}
