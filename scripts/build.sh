#!/usr/bin/env bash
# Builds Quenlat: `build.sh` builds native and windows, `build.sh native`,
# `build.sh windows` or `build.sh sanitize` one of them.
#   build/native    engine, console tool and their tests for this machine
#   build/windows   every program and test for 32-bit Windows (QUENLAT.EXE)
#   build/sanitize  the native build again with clang, AddressSanitizer and
#                   UndefinedBehaviorSanitizer, plus the fuzzers
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/install-deps.sh"

which=${1:-all}
jobs=$(nproc)
if [ "$which" = all ] || [ "$which" = native ]; then
  cmake -S "$root" -B "$build_native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_native" -j "$jobs"
fi
if [ "$which" = all ] || [ "$which" = windows ]; then
  cmake -S "$root" -B "$build_windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$build_windows" -j "$jobs"
fi
if [ "$which" = sanitize ]; then
  cmake -S "$root" -B "$build_sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DQUENLAT_SANITIZE=ON >/dev/null
  cmake --build "$build_sanitize" -j "$jobs"
fi
