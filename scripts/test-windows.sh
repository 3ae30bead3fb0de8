#!/usr/bin/env bash
# Cross-builds the Windows executable with MinGW-w64 and runs it under wine next to the Linux
# build on the same inputs (tests/e2e/test_windows.py). Needs cmake, g++, the MinGW-w64 C++
# compiler, wine, and Debian's python3-dbf and python3-dbfread (.ci/run installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# The Linux build: its make_tables writes the installed tables of the Windows build (a cross
# build cannot run its own), and its Zuvrex5 gives the results the Windows build must match.
cmake -S . -B build-native-win -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUVREX_BUILD_TESTS=OFF
cmake --build build-native-win -j"$jobs" --target Zuvrex5 make_tables installed_tables

# The Windows build: build-win/bin holds Zuvrex5.exe, template.dbf and sorted.DBF.
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZUVREX_BUILD_TESTS=OFF \
  -DZUVREX_TABLE_GENERATOR="$PWD/build-native-win/tools/make_tables"
cmake --build build-win -j"$jobs" --target Zuvrex5 installed_tables

ZUVREX_WINDOWS_EXE="$PWD/build-win/bin/Zuvrex5.exe" ZUVREX_BIN_DIR="$PWD/build-native-win/bin" \
  /usr/bin/python3 tests/e2e/test_windows.py
