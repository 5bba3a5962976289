#!/usr/bin/env bash
# The Windows brain, cross-built with MinGW-w64: build-win/pbrain-tarvo.exe and
# the release archive build-win/pbrain-tarvo.zip (the executable at its root).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_packages.sh cmake:cmake make:make x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
cmake -B build-win -S . -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DTARVO_BUILD_TESTS=OFF
cmake --build build-win -j2 --target release
tools/check_windows_imports.sh build-win/pbrain-tarvo.exe
