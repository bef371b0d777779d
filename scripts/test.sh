#!/usr/bin/env bash
# The test command: set-up, both builds, every test through one CTest run.
# The last line names what ran the tests: the Windows tree's architecture and
# the Wine that ran it, e.g. "tests ran on i686 / wine32 (wine-8.0 ...)".
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/setup.sh"
# shellcheck disable=SC1091
. "$BUILD_DIR/wine/env.sh"
"$ROOT/scripts/build.sh"
cd "$BUILD_DIR/host"
rc=0
ctest --output-on-failure --timeout 600 -j "${CTEST_JOBS:-2}" "$@" || rc=$?
arch=$(sed -n 's/^MIXTALLY_ARCH:[A-Z]*=//p' "$BUILD_DIR/win/CMakeCache.txt")
wine=$([ "$WINEARCH" = win32 ] && echo wine32 || echo wine64)
# A desktop that went away during the run makes tests slow or fail in ways
# of their own; say so where the failures are read.
pid=$(cat "$BUILD_DIR/wine/desktop.pid" 2>/dev/null || true)
if [ -n "$pid" ] && { tr '\0' '\n' < "/proc/$pid/cmdline"; } 2>/dev/null | grep -q 'explorer.exe'; then
  echo "Wine desktop: set-up's explorer.exe (pid $pid) lasted the whole run"
else
  echo "Wine desktop: set-up's explorer.exe (pid ${pid:-?}) had gone by the end of the run"
fi
echo "tests ran on ${arch:-?} / $wine ($("$WINE" --version 2>/dev/null || echo "version unknown"))"
exit $rc
