#!/usr/bin/env bash
# Screenshots of the stand-in controls as the driver uses them: the status
# panel in each link state (panel1..3), the About box and a generic version
# dialog, cropped from the Xvfb screen into $BUILD_DIR/shots/.
# Usage: BUILD_DIR=... tests/unit/common/screenshot.sh   (after a build)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
. "$BUILD_DIR/wine/env.sh"
SHOTS=$BUILD_DIR/shots
mkdir -p "$SHOTS"
work=$(mktemp -d)
trap 'touch "$work/done"; rm -rf "$work"' EXIT
rects=$work/rects.txt
"$WINE" "$BUILD_DIR/win/bin/common_unit_tests.exe" -shot "Z:${rects//\//\\}" "Z:${work//\//\\}\\done" \
    </dev/null >/dev/null 2>&1 &
pid=$!
for _ in $(seq 1 600); do [ -s "$rects" ] && grep -q '^version' "$rects" && break; sleep 0.1; done
[ -s "$rects" ] || { echo "screenshot: the scene did not come up" >&2; exit 1; }
sleep 2   # let the windows paint
import -display "$DISPLAY" -window root "$SHOTS/screen.png"
while read -r name x y w h; do
  convert "$SHOTS/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$SHOTS/$name.png"
  echo "$SHOTS/$name.png"
done < "$rects"
convert "$SHOTS/panel1.png" "$SHOTS/panel2.png" "$SHOTS/panel3.png" -append "$SHOTS/panels.png"
echo "$SHOTS/panels.png"
touch "$work/done"
wait "$pid" || true
