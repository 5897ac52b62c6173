#!/usr/bin/env bash
# Builds everything and runs every test: natively, natively again with
# AddressSanitizer and UndefinedBehaviorSanitizer (and the fuzzers, about 20 s
# each), then the Windows build under Wine in a virtual display. Extra
# arguments go to ctest (e.g. -R name).
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/build.sh" all
"$root/scripts/build.sh" sanitize
ensure_display

status=0
echo "== native tests"
ctest --test-dir "$build_native" --output-on-failure -j "$(nproc)" "$@" || status=1
echo "== native tests with AddressSanitizer and UndefinedBehaviorSanitizer, and fuzzers"
ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$build_sanitize" --output-on-failure -j "$(nproc)" "$@" || status=1
echo "== Windows tests under Wine"
"$build_windows/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true  # make the prefix once
ctest --test-dir "$build_windows" --output-on-failure -j "$(nproc)" "$@" || status=1
exit $status
