#!/usr/bin/env bash
# Fuzzes every target (or those named) for the given seconds each, default 60, with clang's
# libFuzzer, address and undefined-behaviour checks. New inputs go to a scratch corpus; inputs that
# crash are kept in build-fuzz/crashes/. Usage: scripts/fuzz.sh [seconds] [target...]
# To keep an interesting input for every test run, copy it into tests/fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/deps.sh test
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DLUMIVALE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=($(ls build-fuzz/bin | sed -n 's/^fuzz_//p'))
mkdir -p build-fuzz/crashes
for target in "${targets[@]}"; do
  scratch=build-fuzz/corpus/$target
  mkdir -p "$scratch"
  # The kept corpus is read, never written: the scratch folder comes first and takes new inputs.
  status=0
  build-fuzz/bin/fuzz_$target "$scratch" "tests/fuzz/corpus/$target" -max_total_time="$seconds" \
    -max_len=65536 -rss_limit_mb=2048 -artifact_prefix="build-fuzz/crashes/$target-" \
    -print_final_stats=1 >"build-fuzz/$target.log" 2>&1 || status=$?
  grep -E "^(stat::number_of_executed_units|stat::new_units_added|SUMMARY|fuzz property)" \
    "build-fuzz/$target.log" | sed "s/^/$target: /" || true
  [ "$status" -eq 0 ] || { echo "$target: FAILED, see build-fuzz/$target.log (input in build-fuzz/crashes/)"; exit 1; }
done
