#!/usr/bin/env bash
# The body of hostile_pages_test.sh, inside its X server. Arguments: the client, the scratch
# folder (the portal's log and the player's home are in it), the portal's first port.
set -u
source "$(dirname "$0")/../journey.sh"
app="$1" work="$2" base="$3"
log="$work/portal.log" clientlog="$work/home/state/qev/qev.log" opened="$work/home/opened.log"
debug=$((base + 9)) # the remote-debugging port (the portal takes base .. base + 3)
on_screen 1280 800
hostile="/hostile?main"
question="^Open an outside application"
logged() { grep -c -- "$1" "$clientlog" 2>/dev/null || true; }
until_logged() { # PATTERN: waits for the client's log line
  until_true above 0 logged "$1" || { echo "the client never logged: $1"; return 1; }
}
js() { D eval "$hostile" "$1" 2>/dev/null; }
# The hostile page's pop-ups (the frame is titled otherwise).
popups() { xdotool search --onlyvisible --name "^Hostile page$" 2>/dev/null | wc -l; }
# press WHAT: the next press on the page runs WHAT, then a real click presses it (right of and
# below where pop-ups open).
press() {
  local presses
  presses="$(js "window.presses")"
  js "window.onPress = function () { $1 }; true" >/dev/null
  game_click 1150 650
  until_js "$hostile" "window.presses > $presses" "true" || fail "the click did not reach the page"
}
# two_boxes: answers the next two alerts of the page, as a player would.
two_boxes() {
  for n in 1 2; do
    until_true -n 50 window "^Message from" || fail "alert $n not shown"
    xdotool windowfocus --sync "$box"
    xdotool key Return
    until_true -n 50 not equals "$box" shown "^Message from"
  done
}
ad="http://localhost:$((base + 1))/hostile/ad" # another site than the portal's 127.0.0.1
# an_ad PAGE QUERY: puts the ad in a frame at the page's top left, 300 x 150.
an_ad() {
  local before
  before="$(count "GET :[0-9]* /hostile/ad")"
  D eval "$1" "var f = document.createElement('iframe'); f.src = '$ad?$2';
    f.style = 'position:fixed;left:0;top:0;width:300px;height:150px;border:0;z-index:9';
    document.body.appendChild(f); true" >/dev/null
  grows "GET :[0-9]* /hostile/ad" "$before" || fail "no ad"
  sleep 0.5 # painted
}
page_ready() {
  if [[ $1 == realms ]]; then until_js "micro2?user=" "document.readyState" '"complete"' || return 1; fi
  sleep 0.5
}

QTWEBENGINE_REMOTE_DEBUGGING=$debug "$app" >/dev/null 2>&1 &
pid=$!
until_js micro2 "document.readyState" '"complete"' 300 || fail "no login page"
step "an ad frame clicked once leaves the login pane on the portal"
an_ad micro2 "top=http://localhost:$((base + 1))/micro2"
page_click 150 75
until_true has "$opened" localhost || fail "the ad's address did not go outside"
[[ "$(D eval micro2 "location.host")" == "\"127.0.0.1:$base\"" ]] || fail "the login pane left"
: >"$opened"
step "sign in and open the hostile page"
sign_in Aldric || fail "no sign-in"
until_true some frame_id || fail "no game window"
D eval "/play" "location.href = \"$hostile\"" >/dev/null
until_js "$hostile" "document.readyState" '"complete"' || fail "no hostile page"

step "schemes: refused without input"
js 'go("qevtest:without-input")' >/dev/null
until_logged "game page address refused: qevtest:without-input" || exit 1
[[ -z "$(shown "$question")" ]] || fail "asked without input"
step "schemes: after a click the player is asked; No (the default) opens nothing"
press 'go("qevtest:answer-no")'
until_true -n 50 window "$question" || fail "no question"
sleep 0.5 # painted
import -window root "$work/scheme_question.png" 2>/dev/null || echo "no screenshot"
answer Return
until_logged "asked to open qevtest:answer-no: declined" || exit 1
[[ ! -s "$opened" ]] || fail "No opened $(cat "$opened")"
step "schemes: Yes opens it with the desktop's handler"
press 'go("qevtest:answer-yes")'
until_true -n 50 window "$question" || fail "no question the second time"
answer alt+y
until_true has "$opened" qevtest:answer-yes || fail "Yes opened nothing"
(($(wc -l <"$opened") == 1)) || fail "opened: $(cat "$opened")"

step "pointer lock: none without input"
press "" # the page has the focus a lock needs; the click's allowance then runs out
sleep 1.2
js "tryLock()" >/dev/null
until_logged "game page asked for pointer lock" || exit 1
[[ "$(js "locked()")" == "false" ]] || fail "locked without input"
step "pointer lock: a click gives it; after Esc it is not taken back"
press "tryLock()"
until_js "$hostile" "locked()" "true" || fail "the click did not lock the pointer"
xdotool key Escape
until_js "$hostile" "locked()" "false" || fail "Esc did not end the lock"
js "tryLock()" >/dev/null
until_js "$hostile" "window.lockErrors" "2" || fail "no refusal after Esc"
[[ "$(js "locked()")" == "false" ]] || fail "the lock was taken again after Esc"

step "a loop of alerts ends by itself"
js "dialogLoop(10)" >/dev/null
two_boxes
until_js "$hostile" "window.alerts" "10" 150 || fail "the loop did not end"
until_logged "alert answered without showing" || exit 1
step "a page that reloads itself between alerts is quiet after two too"
press ""
js "reloadLoop(6)" >/dev/null
two_boxes
until_js "$hostile" "sessionStorage.reloads" '"0"' 150 || fail "the reload loop did not end"
[[ -z "$(shown "^Message from")" ]] || fail "a third box"

step "an ad frame's address for a desktop handler asks nothing, after a click outside it too"
an_ad "$hostile" "self=qevtest:ad-frame"
until_logged "game page address refused: qevtest:ad-frame (a frame's)" || exit 1
press ""
! until_true -n 20 some shown "$question" || fail "the ad's address was put to the player"

step "a foreign pop-up shows the client's bar; its opener.location leaves the game tab in place"
press "window.open('http://localhost:$((base + 1))/hostile?foreign', 'f')"
until_true equals 1 popups || fail "no foreign pop-up"
until_js "hostile?foreign" "document.readyState" '"complete"' || fail "the pop-up did not load"
sleep 0.5 # painted
import -window root "$work/foreign_popup_bar.png" 2>/dev/null || echo "no screenshot"
sleep 1.2 # the click's allowance runs out
D eval "hostile?foreign" "opener.location = '$ad?nabbed'; true" >/dev/null
until_logged "game page address refused (not the operator's site): http://localhost" || exit 1
[[ "$(js "location.search")" == '"?main"' ]] || fail "the game tab left"
D eval "hostile?foreign" "window.close()" >/dev/null
until_true equals 0 popups || fail "the foreign pop-up stayed"

step "pop-ups: none without input"
press "" # as for the lock
sleep 1.2
js "openPopups(3)" >/dev/null
until_logged "game page pop-up refused" || exit 1
(($(popups) == 0)) || fail "a pop-up opened without input"
step "pop-ups: one per click, four at most"
press "openPopups(3)"
until_true equals 1 popups || fail "the click opened $(popups) pop-ups"
for n in 2 3 4 5; do press "openPopups(1)"; done
until_true equals 4 popups || fail "$(popups) pop-ups open"
until_logged "4 pop-ups of the game page are open" || exit 1
(($(popups) == 4)) || fail "a fifth pop-up opened"

step "Switch Account: no question, the old page stops, its pop-ups close"
press "clingOn()"
grows "GET :[0-9]* /hostile/beat" 2 || fail "no heartbeat"
logouts="$(count "GET :[0-9]* /micro2/Logout")"
switch_account || fail "no switch"
grows "GET :[0-9]* /micro2/Logout" "$logouts" || fail "no logout page"
until_true not some frame_id || fail "the game window stayed"
[[ -z "$(shown "^Message from")" ]] || fail "the old page asked to stay"
until_true equals 0 popups || fail "$(popups) pop-ups of the old account are open"
beats="$(count "GET :[0-9]* /hostile/beat")"
sleep 1 # five heartbeats' time
(($(count "GET :[0-9]* /hostile/beat") == beats)) || fail "the old page still sends requests"

step "sign in again, close from the client's own button"
sign_in Brenna || fail "no second sign-in"
until_true some frame_id || fail "no game window the second time"
quit_client
