#!/usr/bin/env bash
# The benchmark command: set-up, both builds, then one run of bench/mixbench,
# which prints the table and writes $BUILD_DIR/bench/bench-<UTC>.json.
# Usage: scripts/bench.sh [--quick] [mixbench options]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/setup.sh" >&2
# shellcheck disable=SC1091
. "$BUILD_DIR/wine/env.sh"
"$ROOT/scripts/build.sh" >&2
exec "$BUILD_DIR/host/bench/mixbench" --json-dir "$BUILD_DIR/bench" "$@"
