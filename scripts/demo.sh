#!/usr/bin/env bash
# The driver's main job on the built-in demo rig: a SIMULATED vision mixer on
# COM15 plays a short show (cuts, a transition, a ~3 s link loss, its USB
# serial adapter pulled and plugged in again), the
# stand-in infodriver of device 1 receives the tallies, and mixtally.exe 1
# runs between them. The terminal shows tally slots 1..128 and the link slot
# 4094 live; a screenshot of the driver's window lands in
# $BUILD_DIR/demo/mixtally-demo.png. Ends by itself after ~40 s (or Ctrl-C).
#
# Usage: scripts/demo.sh         Env: BUILD_DIR (default <repo>/build)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/setup.sh"
# shellcheck disable=SC1091
. "$BUILD_DIR/wine/env.sh"
"$ROOT/scripts/build.sh"
exec python3 "$ROOT/scripts/demo_show.py"
