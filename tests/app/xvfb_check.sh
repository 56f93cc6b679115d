#!/bin/bash
# Drives the real window under Xvfb the way a user would: double-click in the view, type a
# BMP path into the file dialog, accept the cell size, save the composite with Ctrl+S and
# compare its pixels with the source; then zoom with the keypad and quit through the menu.
# Screenshots are left in the work folder. Needs xvfb, xdotool, imagemagick, python3.
#   xvfb-run -a -s "-screen 0 1280x1024x24" tests/app/xvfb_check.sh build/app/meshwick
set -u
app=$(realpath "${1:?usage: xvfb_check.sh path/to/meshwick}")
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
xdotool type --delay 20 "$work/src.bmp"
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
xdotool type --delay 20 "$work/out.bmp"
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
python3 - "$work/src.bmp" "$work/out.bmp" <<'PY' || status=1
import struct, sys
def pixels(path):
    d = open(path, "rb").read()
    offset = struct.unpack("<I", d[10:14])[0]
    w, h = struct.unpack("<ii", d[18:26])
    stride = (w * 3 + 3) & ~3
    rows = [d[offset + k * stride: offset + k * stride + w * 3] for k in range(abs(h))]
    return w, h, rows if h < 0 else rows[::-1]
src, out = pixels(sys.argv[1]), pixels(sys.argv[2])
print("composite", out[:2], "source", src[:2], "pixels equal:", src == out)
sys.exit(0 if src == out else 1)
PY
same() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = "0" ]; }
same shot-4-placed.png shot-6-keypad-plus.png && { echo "FAIL: keypad plus did not zoom"; status=1; }
same shot-6-keypad-plus.png shot-7-main-plus.png || { echo "FAIL: main keyboard plus changed the view"; status=1; }
same shot-4-placed.png shot-8-keypad-minus.png || { echo "FAIL: keypad minus did not zoom back"; status=1; }
echo "profile: $(tr '\n' ' ' < "$HOME/.config/Meshwick/Meshwick.conf")"
echo "screenshots in $work"
exit $status
