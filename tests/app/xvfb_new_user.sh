#!/bin/bash
# A first run of the app under Xvfb, as someone new to it would try it: a picture that cannot be read brings a message and leaves
# the grid alone; a good one is placed and marks the title; Exit asks about the unsaved grid
# (取消 keeps the window, 保存 saves and quits); pictures named on the command line are placed
# at start-up. Screenshots are left in the work folder. Needs xvfb, xdotool, imagemagick.
#   xvfb-run -a -s "-screen 0 1280x1024x24" tests/app/xvfb_new_user.sh build/app/meshwick
set -u
app=$(realpath "${1:?usage: xvfb_new_user.sh path/to/meshwick}")
work=${SHOTS_DIR:-$(mktemp -d)}
cd "$work" || exit 1
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"
status=0
fail() { echo "FAIL: $*"; status=1; }
title() { xdotool getwindowname "$window"; }
shot() { import -window root "$1.png"; }
wait_window() {  # name pattern → first window id
  local id=""
  for _ in $(seq 50); do id=$(xdotool search --name "$1" | head -1); [ -n "$id" ] && break; sleep 0.2; done
  echo "$id"
}

convert -size 64x48 gradient:red-blue -type TrueColor BMP3:good.bmp
printf 'this is not a picture\n' > broken.jpg

"$app" > app.log 2>&1 &
pid=$!
window=$(wait_window "无标题 - Meshwick")
[ -n "$window" ] || { echo "FAIL: no main window"; cat app.log; exit 1; }
sleep 1
shot 1-start

# An unreadable picture: the message names it, the grid stays empty.
xdotool mousemove 300 300 click --repeat 2 --delay 80 1
sleep 2
xdotool type --delay 20 "$work/broken.jpg"
xdotool key Return
sleep 2
shot 2-broken-picture-message
echo "message window: $(xdotool getwindowname "$(xdotool getactivewindow 2>/dev/null || xdotool getwindowfocus)")"
xdotool key Return
sleep 1
xdotool windowfocus --sync "$window"
[ "$(title)" = "无标题 - Meshwick" ] || fail "title after the failed placement: $(title)"
shot 3-after-message

# A good picture: placed, and the title carries the modified mark.
xdotool mousemove 300 300 click --repeat 2 --delay 80 1
sleep 2
xdotool type --delay 20 "$work/good.bmp"
xdotool key Return
sleep 2
xdotool key Return  # the cell size as offered
sleep 2
xdotool windowfocus --sync "$window"
[ "$(title)" = "无标题* - Meshwick" ] || fail "title after placing: $(title)"
shot 4-placed

# Exit with unsaved work asks; Escape (取消) keeps the program running.
xdotool key alt+f
sleep 1
xdotool key x
sleep 2
shot 5-save-question
xdotool key Escape
sleep 1
kill -0 "$pid" 2>/dev/null || fail "取消 ended the program"
# Exit again; Return takes the default 保存, the save dialog takes a name, the program ends.
xdotool windowfocus --sync "$window"
xdotool key alt+f
sleep 1
xdotool key x
sleep 2
xdotool key Return
sleep 2
shot 6-save-dialog
xdotool type --delay 20 "$work/grid"
xdotool key Return
sleep 2
kill -0 "$pid" 2>/dev/null && { fail "still running after 保存"; kill "$pid"; }
[ -f grid.jpg ] || fail "grid.jpg was not written"
echo "saved: $(ls grid* 2>/dev/null)"

# Pictures named on the command line are placed at start-up.
"$app" good.bmp good.bmp good.bmp > app2.log 2>&1 &
pid=$!
sleep 2
xdotool key Return  # the cell size, asked once
sleep 2
window=$(wait_window "无标题\\* - Meshwick")
[ -n "$window" ] || fail "no modified window after the command-line pictures"
shot 7-command-line-pictures
kill "$pid" 2>/dev/null
echo "profile: $(tr '\n' ' ' < "$HOME/.config/Meshwick/Meshwick.conf" 2>/dev/null)"
echo "screenshots in $work"
exit $status
