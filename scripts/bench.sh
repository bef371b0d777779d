#!/usr/bin/env bash
# The benchmark command: set-up, both builds, then one run of bench/mixbench,
# which prints the table and writes $BUILD_DIR/bench/bench-<UTC>.json.
# Usage: scripts/bench.sh [--quick] [mixbench options, e.g. --only staleness]
#        scripts/bench.sh --soak [MINUTES]        (default 10; soak-<UTC>.json)
#        scripts/bench.sh --fuzz N [--revertives M] [--seeds S1,S2,...|random]
#            N serial bytes (10^7 is a good long run) over the seeds (default:
#            four random ones, printed), then M revertives (default N/10, at
#            least 10^5) with the first seed; prints counts and throughput.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/setup.sh" >&2
# shellcheck disable=SC1091
. "$BUILD_DIR/wine/env.sh"
"$ROOT/scripts/build.sh" >&2

if [ "${1:-}" = --fuzz ]; then
  bytes=${2:-10000000}
  shift $(( $# >= 2 ? 2 : 1 ))
  revertives= seeds=random
  while [ $# -gt 0 ]; do
    case $1 in
      --revertives) revertives=$2; shift 2 ;;
      --seeds) seeds=$2; shift 2 ;;
      *) echo "bench.sh: unknown fuzz option $1" >&2; exit 2 ;;
    esac
  done
  [ -n "$revertives" ] || revertives=$(( bytes / 10 > 100000 ? bytes / 10 : 100000 ))
  rc=0
  quiet() { grep -vE '^(\[ *(RUN|OK) *\]|\[-+\]|\[=+\]|Running main|Note: Google Test filter|$)' || true; }
  if ! MIXTALLY_FUZZ_BYTES=$bytes MIXTALLY_FUZZ_SEEDS=$seeds \
       "$BUILD_DIR/win/winerun" "$BUILD_DIR/win/bin/driver_unit_tests.exe" \
       --gtest_filter='SerialFuzz.SeededStreams*' 2>&1 | quiet; then rc=1; fi
  # The revertive run takes the first serial seed ("random" draws its own).
  if ! MIXTALLY_FUZZ_REVERTIVES=$revertives MIXTALLY_FUZZ_SEEDS=${seeds%%,*} \
       "$BUILD_DIR/win/winerun" "$BUILD_DIR/win/bin/infodriver_fuzz_tests.exe" 2>&1 | quiet; then rc=1; fi
  exit $rc
fi

exec "$BUILD_DIR/host/bench/mixbench" --json-dir "$BUILD_DIR/bench" "$@"
