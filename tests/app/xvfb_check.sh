#!/bin/bash
# Drives the real window under Xvfb the way a user would: double-click in the view, type a
# picture path into the file dialog, accept the cell size, save the composite with Ctrl+S and
# compare its pixels with the source; then zoom with the keypad and quit through the menu.
# With "jpg" the picture placed is a JPEG and the composite is saved as .jpg (compared after
# decoding with djpeg: quality 100 4:2:0 keeps it within a few levels). Screenshots are left in
# the work folder. Needs xvfb, xdotool, imagemagick, libjpeg-turbo-progs, python3.
#   xvfb-run -a -s "-screen 0 1280x1024x24" tests/app/xvfb_check.sh build/app/meshwick [bmp|jpg]
set -u
app=$(realpath "${1:?usage: xvfb_check.sh path/to/meshwick [bmp|jpg]}")
kind=${2:-bmp}
work=$(mktemp -d)
cd "$work" || exit 1
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"

python3 - <<'PY'
import struct
w, h = 64, 48
rows = []
for y in range(h - 1, -1, -1):  # bottom-up file rows
    rows.append(bytes(b for x in range(w) for b in ((x * 4) & 255, (y * 5) & 255, ((x + y) * 3) & 255)))
data = b"".join(rows)
header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
header += struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, 0, 0, 0, 0, 0)
open("src.bmp", "wb").write(header + data)
PY
source=src.bmp
if [ "$kind" = jpg ]; then
  cjpeg -quality 95 -outfile src.jpg src.bmp && source=src.jpg
fi

"$app" > app.log 2>&1 &
pid=$!
for _ in $(seq 50); do window=$(xdotool search --name "无标题 - Meshwick" | head -1); [ -n "$window" ] && break; sleep 0.2; done
[ -n "$window" ] || { echo "FAIL: no main window"; cat app.log; exit 1; }
echo "main window: $(xdotool getwindowname "$window")"
sleep 1
import -window root shot-1-start.png

xdotool mousemove 300 300 click --repeat 2 --delay 80 1
sleep 2
echo "dialog: $(xdotool getwindowname "$(xdotool getactivewindow 2>/dev/null || xdotool getwindowfocus)")"
import -window root shot-2-open-dialog.png
xdotool type --delay 20 "$work/$source"
xdotool key Return
sleep 2
echo "cell-size dialog found: $(xdotool search --name '设定预设高宽' | head -1)"
import -window root shot-3-cell-size.png
xdotool key Return
sleep 2
import -window root shot-4-placed.png

# Without a window manager nobody hands the focus back after a dialog closes.
xdotool windowfocus --sync "$window"
xdotool key ctrl+s
sleep 2
import -window root shot-5-save-dialog.png
xdotool type --delay 20 "$work/out.$kind"
xdotool key Return
sleep 2

xdotool windowfocus --sync "$window"
xdotool key KP_Add
sleep 1
import -window root shot-6-keypad-plus.png
xdotool key plus
sleep 1
import -window root shot-7-main-plus.png
xdotool key KP_Subtract
sleep 1
import -window root shot-8-keypad-minus.png
xdotool key alt+f
sleep 1
import -window root shot-9-file-menu.png
xdotool key x
sleep 2

status=0
if kill -0 "$pid" 2>/dev/null; then
  echo "FAIL: still running after File > Exit"
  kill "$pid"
  status=1
fi
# Both sides as PPM: the source as placed (the JPEG decoded by djpeg), the composite as saved.
if [ "$kind" = jpg ]; then
  djpeg -outfile src.ppm src.jpg && djpeg -outfile out.ppm out.jpg || status=1
  # Decoded by us, turned to RGB, back to YCbCr at quality 100 with 4:2:0 chroma: seen max 9,
  # mean 0.84 on this picture.
  limit=12 mean=1.5
else
  convert src.bmp src.ppm && convert out.bmp out.ppm || status=1
  limit=0 mean=0
fi
python3 - src.ppm out.ppm "$limit" "$mean" <<'PY' || status=1
import sys
def pixels(path):
    d = open(path, "rb").read()
    magic, w, h, top, rest = d.split(maxsplit=4)
    return int(w), int(h), rest
src, out = pixels(sys.argv[1]), pixels(sys.argv[2])
limit, mean_limit = int(sys.argv[3]), float(sys.argv[4])
if src[:2] != out[:2]:
    print("composite", out[:2], "source", src[:2], "sizes differ")
    sys.exit(1)
diffs = [abs(a - b) for a, b in zip(src[2], out[2])]
worst, mean = max(diffs), sum(diffs) / len(diffs)
print("composite", out[:2], "source", src[:2], "largest difference:", worst, "mean: %.2f" % mean,
      "allowed:", limit, mean_limit)
sys.exit(0 if worst <= limit and mean <= mean_limit else 1)
PY
same() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = "0" ]; }
same shot-4-placed.png shot-6-keypad-plus.png && { echo "FAIL: keypad plus did not zoom"; status=1; }
same shot-6-keypad-plus.png shot-7-main-plus.png || { echo "FAIL: main keyboard plus changed the view"; status=1; }
same shot-4-placed.png shot-8-keypad-minus.png || { echo "FAIL: keypad minus did not zoom back"; status=1; }
echo "profile: $(tr '\n' ' ' < "$HOME/.config/Meshwick/Meshwick.conf")"
echo "screenshots in $work"
exit $status
