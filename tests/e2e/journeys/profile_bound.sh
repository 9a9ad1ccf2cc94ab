#!/usr/bin/env bash
# The body of profile_bound_test.sh, inside its X server. Arguments: the client, the scratch
# folder (the player's home is in it), the portal's first port.
set -u
source "$(dirname "$0")/../journey.sh"
app="$1" work="$2" base="$3"
clientlog="$work/home/state/qev/qev.log" web="$work/home/.local/share/qev/web"
debug=$((base + 9))
game="http://127.0.0.1:$((base + 1))" ad="http://127.0.0.2:$((base + 1))"
on_screen 1280 800
start_client() {
  QTWEBENGINE_REMOTE_DEBUGGING=$debug "$app" >/dev/null 2>&1 &
  pid=$!
  until_js micro2 "document.readyState" '"complete"' 300 || fail "no login page"
}
go() { # FROM ADDRESS LOADED: the login pane, showing FROM, to ADDRESS, whose page must load
  D eval "$1" "location.href = '$2'" >/dev/null
  until_js "$3" "document.readyState" '"complete"' || fail "$2 did not load"
}
mib() { echo $(($(du -sb "$1" 2>/dev/null | cut -f1) / 1048576)); }

step "a foreign ad frame gets no storage, no worker and no cookie; the page's own site does"
start_client
go micro2 "$game/storage?frame=$ad/storage%3Freport" "/storage?frame"
until_js "/storage?frame" "!!window.frameReport" "true" || fail "no answer from the frame"
report="$(D eval "/storage?frame" "window.frameReport")"
echo "the frame's answers: $report"
for refused in "access the database" "security policy" "'localStorage'" "use Service Worker"; do
  [[ $report == *"$refused"* ]] || fail "the frame was not refused ($refused)"
done
[[ $(D eval "/storage?frame" "fillDatabase(2)") == 2 ]] || fail "the page's own site stored nothing"
[[ $(D eval "/storage?frame" "setCookie()") == '"fill=1"' ]] || fail "the page's own cookie"

step "a page that writes 96 MiB is sent to about:blank"
go "/storage?frame" "$game/storage?fill=96&pace=100" "fill=96"
until_true -n 300 says "^about:blank$" D list || fail "the writing page was not stopped"
grep -q "over its limit of 64.0 MiB while $game writes" "$clientlog" || fail "no log line"
written=$(mib "$web/IndexedDB")
((written < 96)) || fail "the page wrote all its $written MiB"
echo "stopped at $written MiB"
quit_stack || fail "the client did not quit"

step "a foreign site's storage and cookie, left on disk, go at the next start"
ours="$web/IndexedDB/http_127.0.0.1_$((base + 1)).indexeddb"
theirs="$web/IndexedDB/http_127.0.0.2_$((base + 1)).indexeddb"
cp -r "$ours.leveldb" "$theirs.leveldb"
sqlite3 "$web/Cookies" "INSERT INTO cookies SELECT creation_utc + 1, '127.0.0.2',
  top_frame_site_key, name, value, encrypted_value, path, expires_utc, is_secure, is_httponly,
  last_access_utc, has_expires, is_persistent, priority, samesite, source_scheme, source_port,
  is_same_party FROM cookies WHERE host_key = '127.0.0.1' AND name = 'fill'" ||
  fail "no cookie to copy"
start_client
grep "web profile at start" "$clientlog"
grep -q "storage (1 sites, .*) and cookies (1)" "$clientlog" || fail "no start-up clean-up line"
[[ ! -e "$theirs.leveldb" ]] || fail "the foreign site's storage stayed"
[[ $(sqlite3 "$web/Cookies" "SELECT group_concat(host_key) FROM cookies WHERE name = 'fill'") == 127.0.0.1 ]] ||
  fail "cookies left: $(sqlite3 "$web/Cookies" "SELECT host_key, name FROM cookies")"
left=$(mib "$web")
((left < 64)) || fail "the profile is still $left MiB"
echo "the profile is $left MiB after the restart"
quit_stack || fail "the client did not quit"
