#!/bin/bash
# Records Video/corvanta-demo.mp4: Corvanta loading its samples and merging them, on a private X display.
# Usage: resources/make-demo-video.sh PROGRAM [OUT]   (needs xvfb, ffmpeg, xdotool, x11-xserver-utils;
# PROGRAM is an installed corvanta, so the list shows the installed sample paths)
set -u
PROGRAM=${1:?usage: make-demo-video.sh PROGRAM [OUT]}
OUT=${2:-$(dirname "$0")/Video/corvanta-demo.mp4}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export DISPLAY=:97
Xvfb :97 -screen 0 1024x768x24 >/dev/null 2>&1 &
XPID=$!
sleep 1
export HOME="$WORK/home"; rm -rf $HOME; mkdir -p $HOME
export XDG_RUNTIME_DIR="$WORK/xdg"; mkdir -p $XDG_RUNTIME_DIR; chmod 700 $XDG_RUNTIME_DIR
# a plain desktop colour behind the windows
xsetroot -solid "#5b6f86" 2>/dev/null || true
"$PROGRAM" >"$WORK/app.log" 2>&1 &
APID=$!
sleep 2
ffmpeg -y -loglevel error -f x11grab -framerate 10 -video_size 1024x768 -i :97 -t 40 -c:v libx264 -preset veryslow -crf 28 -pix_fmt yuv420p "$OUT" &
FPID=$!
sleep 2
WID=$(xdotool search --name '^Corvanta$' | head -1)
eval $(xdotool getwindowgeometry --shell $WID)
echo "window $X $Y $WIDTH $HEIGHT"
xdotool windowfocus --sync $WID; sleep 0.5
# Help > Load Sample/Example Files
xdotool key alt+h; sleep 0.8; xdotool key Down; sleep 0.5; xdotool key Return; sleep 1.5
xdotool key Escape; sleep 2
# Options tab, then back to Files
xdotool mousemove $((X+95)) $((Y+125)); sleep 0.8; xdotool click 1; sleep 2.5
xdotool mousemove $((X+33)) $((Y+125)); sleep 0.8; xdotool click 1; sleep 1.5
# Start Joining (fourth toolbar button)
xdotool mousemove $((X+357)) $((Y+63)); sleep 1; xdotool click 1; sleep 4
RW=$(xdotool getactivewindow 2>/dev/null || true)
for w in $(xdotool search --onlyvisible --name '^Corvanta$'); do [ "$w" != "$WID" ] && RW=$w; done
xdotool windowfocus --sync $RW; sleep 0.5
xdotool key Page_Down; sleep 1.5; xdotool key Page_Down; sleep 2; xdotool key ctrl+End; sleep 2
xdotool key ctrl+Home; sleep 2
# Back to the list
eval $(xdotool getwindowgeometry --shell $RW)
xdotool mousemove $((X+50)) $((Y+40)); sleep 1; xdotool click 1; sleep 3
wait $FPID
kill $APID $XPID 2>/dev/null
