# shellcheck shell=bash disable=SC2154 # $build, $work: the sourcing test's
# Sourced by the self-update scripts (after portal.sh, with $build, $work and fail set); brings
# journey.sh, whose journeys/update_close.sh runs the client.
source "$(dirname "${BASH_SOURCE[0]}")/journey.sh"

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
  client_environment "$work"
  export TMPDIR="$work/tmp" XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
}
