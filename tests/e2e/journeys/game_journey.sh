#!/usr/bin/env bash
# The body of game_journey_test.sh, inside its X server. Arguments: the client, the portal's
# log, the screenshot to keep.
set -u
source "$(dirname "$0")/../journey.sh"
app="$1" log="$2" shot="$3"
on_screen 1280 800

"$app" >/dev/null 2>&1 &
pid=$!
step "sign in"
wait_log "GET :[0-9]* /micro2 " || exit 11
sign_in Aldric || exit 11
step "game window"
until_true some frame_id || { echo "no game window"; exit 12; }
frame="$(frame_id)"
geometry="$(xdotool getwindowgeometry "$frame" | tr "\n" " ")"
echo "$geometry"
[[ $geometry == *"Position: 0,0"* && $geometry == *"Geometry: 1280x800"* ]] ||
  { echo "not maximised: $geometry"; exit 13; }
# The game page sees its cookie: the marking runs after the load, the page shows it.
sleep 3
import -window root "$shot" 2>/dev/null || echo "no screenshot"

step "switch account"
logouts="$(count "GET :[0-9]* /micro2/Logout")"
switch_account || exit 14
grows "GET :[0-9]* /micro2/Logout" "$logouts" 50 || { echo "no logout page"; exit 15; }
step "login stack again"
until_true -n 50 not some frame_id || { echo "game window still shown"; exit 16; }
sign_in Brenna || exit 17
until_true some frame_id || { echo "no game window the second time"; exit 18; }

step "close and confirm"
sleep 1
quit_client
code=$?
echo "client exit code $code"
exit $code
