#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer) in build-fuzz/ and runs each for a bounded time: scripts/fuzz.sh [SECONDS] (default
# 25 per target). The seeds of fuzz/corpus/ and the inputs of fuzz/regressions/ start each run;
# what the fuzzer learns stays in build-fuzz/corpus/, so a later run goes on from there, and the
# repository's corpus is never changed. A crash, hang (5 s), leak or sanitizer report stops the
# script with status 1 and names the input in build-fuzz/artifacts/<target>/; replay it with
# build-fuzz/fuzz/<target>_fuzz FILE, fix the fault, and keep the input in
# fuzz/regressions/<target>/ so that every test run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-25}
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUVREX_FUZZ=ON \
  -DZUVREX_BUILD_TESTS=OFF > /dev/null
targets=(dbf filter ini int)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzz}" > /dev/null

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  # Regression inputs, where a target has any (git keeps no empty directory).
  inputs=("$corpus" "fuzz/corpus/$target")
  [ -d "fuzz/regressions/$target" ] && inputs+=("fuzz/regressions/$target")
  echo "== fuzzing $target for $seconds s"
  # Dictionaries and the longest input are left to libFuzzer; -timeout makes a hang a failure.
  if ! "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "${inputs[@]}" \
      > "$build/$target.log" 2>&1; then
    status=1
    echo "FAILED: $target; the input is in $artifacts/, the report in $build/$target.log"
    grep -E "ERROR|SUMMARY|fuzz property|Test unit written" "$build/$target.log" | head -n 20 || true
  else
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/$target.log" |
      tr '\n' ' ' && echo
  fi
done
exit "$status"
