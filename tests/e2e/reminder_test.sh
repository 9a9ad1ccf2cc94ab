#!/usr/bin/env bash
# The activity reminder as a player meets it: log in on the demo portal with the mouse and
# keyboard, and the reminder of the activity that starts in ten minutes pops up in the
# screen's corner with its countdown near 09:5x and a tray icon; its close button removes
# both. Keeps a screenshot of the reminder in BUILD_DIR/test-artifacts/reminder.png.
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3).
source "$(dirname "$0")/runner.sh"
keep=("$work/reminder.png" "$work/reminder-screen.png")
layout_portal

# Candidate pictures of the reminder's digit well for 09:50 .. 10:00, drawn from the built-in
# artwork the way the client draws them (digits 35 px apart in the strip, colon at 350).
images="$source_dir/res/images"
for value in $(seq 590 600); do
  mm=$(printf '%02d' $((value / 60))) ss=$(printf '%02d' $((value % 60)))
  args=()
  for cell in "${mm:0:1}:121" "${mm:1:1}:147" "c:173" "${ss:0:1}:196" "${ss:1:1}:222"; do
    glyph="${cell%%:*}" x="${cell##*:}"
    if [[ $glyph == c ]]; then sx=350 w=21; else sx=$((glyph * 35)) w=35; fi
    args+=(\( "$images/1067.gif" -crop "${w}x28+${sx}+0" +repage \) -geometry "+${x}+50" -composite)
  done
  convert "$images/1013.png" -background none -extent 283x93 "${args[@]}" \
    -crop 136x28+121+50 +repage "$work/expect-$value.png"
done

client_environment
journey 1920x1080 reminder "$build/bin/qev" "$work" "$work/portal.log"
touch "$work/steps"
grep -q "logged in" "$work/steps" || fail "the login did not fetch the task feed"
grep -q "reminder at the corner" "$work/steps" || fail "no 283x93 window at 1637,837"
grep -q " /micro2/TaskTips?tid=1 " "$work/portal.log" || fail "the reminder did not load its page"

# The countdown: the closest candidate must be one of 09:50 .. 10:00, and close indeed.
convert "$work/reminder.png" -crop 136x28+121+50 +repage "$work/digits.png"
best="" best_diff=999999
for value in $(seq 590 600); do
  diff=$(compare -metric AE -fuzz 12% "$work/digits.png" "$work/expect-$value.png" null: 2>&1 || true)
  diff=${diff%% *}
  if ((diff < best_diff)); then best=$value best_diff=$diff; fi
done
echo "countdown reads $((best / 60)):$(printf %02d $((best % 60))) ($best_diff pixels differ)"
((best_diff < 150)) || fail "the digits match none of 09:50..10:00 (best $best, $best_diff pixels)"

# The tray icon: the tray's panel holds the client's icon window while the reminder is open,
# and no longer once it is closed.
tray_icons() { grep -A8 '"panel": ("panel" "trayer")' "$1" | grep -c '("qev" "qev")' || true; }
[[ $(tray_icons "$work/tree-open.txt") == 1 ]] || fail "no tray icon while the reminder is open"
grep -q "reminder closed" "$work/steps" || fail "the close button did not remove the reminder"
[[ $(tray_icons "$work/tree-closed.txt") == 0 ]] || fail "the tray icon stayed after closing"
echo "reminder e2e: ok"
