#!/usr/bin/env bash
# The release command: set-up and both builds (like scripts/test.sh), then
# CPack's ZIP of the i686 build (build/win, or build/win32 where the tests run
# x86_64): $BUILD_DIR/dist/mixtally-<version>-win32.zip.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/setup.sh" >&2
# shellcheck disable=SC1091
. "$BUILD_DIR/wine/env.sh"
"$ROOT/scripts/build.sh" >&2
tree=$BUILD_DIR/win
[ "${MIXTALLY_ARCH:-i686}" = i686 ] || tree=$BUILD_DIR/win32
cd "$tree"
cpack --config CPackConfig.cmake -B "$BUILD_DIR/dist" >&2
echo "$BUILD_DIR/dist/$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' CPackConfig.cmake).zip"
