#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time.
#   tests/fuzz/run.sh [seconds per target]     (default 25)
# KORVIK_FUZZ_BUILD sets the build directory (default build-fuzz in the
# checkout). The corpus grows in <build>/corpus/<target>; a crashing input
# lands in <build>/artifacts/.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${KORVIK_FUZZ_BUILD:-$ROOT/build-fuzz}
SECONDS_EACH=${1:-25}

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
mkdir -p "$BUILD"
if ! { cmake -S "$HERE" -B "$BUILD" "${generator[@]}" \
         -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DCMAKE_COMPILE_WARNING_AS_ERROR=ON &&
       cmake --build "$BUILD" -j "$(nproc)"; } >"$BUILD/build.log" 2>&1; then
  echo "building the fuzz targets failed; the end of $BUILD/build.log:"
  tail -n 40 "$BUILD/build.log"
  exit 1
fi

status=0
for target in line_rewrite command; do
  corpus=$BUILD/corpus/$target
  mkdir -p "$corpus" "$BUILD/artifacts"
  options=(-max_total_time="$SECONDS_EACH" -print_final_stats=1
           -artifact_prefix="$BUILD/artifacts/$target-")
  [ -f "$HERE/$target.dict" ] && options+=(-dict="$HERE/$target.dict")
  log=$BUILD/$target.log
  if "$BUILD/${target}_fuzzer" "${options[@]}" "$corpus" "$HERE/seeds/$target" \
    >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "${target}_fuzzer: ${runs:-?} executions in ${SECONDS_EACH} s," \
      "corpus $(ls "$corpus" | wc -l) inputs"
  else
    status=1
    echo "${target}_fuzzer FAILED; the end of $log:"
    tail -n 40 "$log"
  fi
done
exit $status
