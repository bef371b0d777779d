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
# Where the runnable tree is not the product's i686 target, still compile the
# product for i686 so that it stays 32-bit clean and warnings-free.
if [ "${MIXTALLY_ARCH:-i686}" != i686 ] && [ "${MIXTALLY_SKIP_I686:-0}" != 1 ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw.cmake" \
        -DMIXTALLY_ARCH=i686 -DMIXTALLY_PRODUCT_ONLY=ON >/dev/null
  cmake --build "$BUILD_DIR/win32" -j "$(nproc)"
fi
cmake -S "$ROOT" -B "$BUILD_DIR/host" -DMIXTALLY_WIN_BUILD="$BUILD_DIR/win" \
      -DMIXTALLY_WINE_ENV="$BUILD_DIR/wine/env.sh" -DMIXTALLY_INCLUDE_WIN_TESTS=ON >/dev/null
cmake --build "$BUILD_DIR/host" -j "$(nproc)"
