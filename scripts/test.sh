#!/usr/bin/env bash
# The test command: set-up, both builds, every test through one CTest run.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/setup.sh"
# shellcheck disable=SC1091
. "$BUILD_DIR/wine/env.sh"
"$ROOT/scripts/build.sh"
cd "$BUILD_DIR/host"
exec ctest --output-on-failure --timeout 600 -j "${CTEST_JOBS:-2}" "$@"
