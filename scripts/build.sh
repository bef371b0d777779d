#!/usr/bin/env bash
# Builds the Windows tree (build/win) and the host tree (build/host).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
mkdir -p "$BUILD_DIR"
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
cmake -S "$ROOT" -B "$BUILD_DIR/win" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw.cmake" -DMIXTALLY_ARCH="${MIXTALLY_ARCH:-i686}" \
      -DMIXTALLY_WINE_ENV="$BUILD_DIR/wine/env.sh" >/dev/null
cmake --build "$BUILD_DIR/win" -j "$(nproc)"
cmake -S "$ROOT" -B "$BUILD_DIR/host" -DMIXTALLY_WIN_BUILD="$BUILD_DIR/win" \
      -DMIXTALLY_WINE_ENV="$BUILD_DIR/wine/env.sh" -DMIXTALLY_INCLUDE_WIN_TESTS=ON >/dev/null
cmake --build "$BUILD_DIR/host" -j "$(nproc)"
