#!/usr/bin/env bash
# Builds the tool and runs every test twice: as built for users, and under AddressSanitizer and
# UndefinedBehaviorSanitizer. Needs cmake, g++, GoogleTest, and Debian's python3-dbf,
# python3-dbfread and gdal-bin (.ci/run installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZUVREX_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize --output-on-failure -j"$jobs"
