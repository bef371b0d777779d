#!/usr/bin/env bash
# Builds the Windows tree (build/win) and the host tree (build/host).
#
# The product is an i686 program, so every Windows target -- program,
# stand-ins, test tools and tests -- is always compiled for i686, warnings
# as errors: mingw's x86_64 target ignores __stdcall, so only an i686 build
# catches a Win32 callback (a lambda, say) without CALLBACK/WINAPI. Where
# the tree that runs the tests is x86_64 (a machine that cannot run 32-bit
# code), the whole tree is compiled a second time for i686 in build/win32.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
mkdir -p "$BUILD_DIR"
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
ARCH=${MIXTALLY_ARCH:-i686}

# wintree DIR ARCH [cmake options]: configures and builds one Windows tree.
wintree() {
  local dir=$1 arch=$2; shift 2
  cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw.cmake" -DMIXTALLY_ARCH="$arch" \
        -DMIXTALLY_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

wintree "$BUILD_DIR/win" "$ARCH" -DMIXTALLY_WINE_ENV="$BUILD_DIR/wine/env.sh"
I686_TREE=$BUILD_DIR/win
if [ "$ARCH" != i686 ]; then
  I686_TREE=$BUILD_DIR/win32
  wintree "$I686_TREE" i686
fi
cmake -S "$ROOT" -B "$BUILD_DIR/host" -DMIXTALLY_WIN_BUILD="$BUILD_DIR/win" -DMIXTALLY_I686_BUILD="$I686_TREE" \
      -DMIXTALLY_WINE_ENV="$BUILD_DIR/wine/env.sh" -DMIXTALLY_INCLUDE_WIN_TESTS=ON >/dev/null
cmake --build "$BUILD_DIR/host" -j "$(nproc)"
