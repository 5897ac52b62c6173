#!/usr/bin/env bash
# Builds everything and runs every test: natively, then the Windows build
# under Wine in a virtual display. Extra arguments go to ctest (e.g. -R name).
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/build.sh" all
ensure_display

status=0
echo "== native tests"
ctest --test-dir "$build_native" --output-on-failure -j "$(nproc)" "$@" || status=1
echo "== Windows tests under Wine"
"$build_windows/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true  # make the prefix once
ctest --test-dir "$build_windows" --output-on-failure -j "$(nproc)" "$@" || status=1
exit $status
