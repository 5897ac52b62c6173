#!/usr/bin/env bash
# Builds Quenlat: `build.sh` builds native, windows and windows64;
# `build.sh native`, `build.sh windows`, `build.sh windows64` or
# `build.sh sanitize` one of them.
# It installs nothing: scripts/install-deps.sh does, and the scripts that
# build and then run something call it once.
#   build/native    engine, console tool and their tests for this machine
#   build/windows   every program and test for 32-bit Windows (QUENLAT.EXE)
#   build/windows64 the same for 64-bit Windows: it runs the Windows tests
#                   where the kernel runs no 32-bit programs
#   build/sanitize  the native build again with clang, AddressSanitizer and
#                   UndefinedBehaviorSanitizer, plus the fuzzers
set -euo pipefail
source "$(dirname "$0")/common.sh"

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
if [ "$which" = all ] || [ "$which" = windows64 ]; then
  cmake -S "$root" -B "$build_windows64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
  cmake --build "$build_windows64" -j "$jobs"
fi
if [ "$which" = sanitize ]; then
  cmake -S "$root" -B "$build_sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DQUENLAT_SANITIZE=ON >/dev/null
  cmake --build "$build_sanitize" -j "$jobs"
fi
