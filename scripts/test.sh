#!/usr/bin/env bash
# Builds the tool and runs every test:
#   1. the unit, end-to-end and interoperability tests, as built for users;
#   2. the same under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the Windows build under wine, compared with the Linux build (scripts/test-windows.sh);
#   4. a bounded fuzzing run of every parser of outside data (scripts/fuzz.sh).
# Steps 3 and 4 need the MinGW-w64 compiler and wine, and clang with libFuzzer; where those are
# missing they are skipped with a note (on CI, where .ci/run installs them, a missing tool fails).
# Needs cmake, g++, GoogleTest, and Debian's python3-dbf, python3-dbfread and gdal-bin.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
passed=0
skipped=0

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
passed=$((passed + 1))

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZUVREX_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize --output-on-failure -j"$jobs"
passed=$((passed + 1))

missing() {
  if [ "${CI:-}" = "true" ]; then
    echo "test.sh: $1 is missing; .ci/run should have installed it" >&2
    exit 1
  fi
  echo "== skipped: $2 ($1 is not installed)"
  skipped=$((skipped + 1))
}

if command -v wine > /dev/null &&
  { command -v x86_64-w64-mingw32-g++-posix || command -v x86_64-w64-mingw32-g++-win32; } > /dev/null; then
  scripts/test-windows.sh
  passed=$((passed + 1))
else
  missing "the MinGW-w64 compiler or wine" "the Windows build under wine"
fi

if command -v clang++ > /dev/null; then
  scripts/fuzz.sh "${ZUVREX_FUZZ_SECONDS:-20}"
  passed=$((passed + 1))
else
  missing "clang" "the fuzzing run"
fi

# Any failing step has stopped the script already (set -e); this line sums up the steps.
echo "steps: $passed passed, 0 failed, $skipped skipped"
