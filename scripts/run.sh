#!/usr/bin/env bash
# Builds QUENLAT.EXE and starts it under Wine with the given files (none: the
# drop window). Uses the current X display, or a virtual one when there is none.
# Where this kernel runs no 32-bit programs, the 64-bit build's QUENLAT.EXE
# runs under wine64 instead, and a line says so.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/install-deps.sh"
choose_windows_build
"$root/scripts/build.sh" "$(basename "$windows_build")" >/dev/null
ensure_display
run="$windows_build/wine-run.sh"
args=()
for f in "$@"; do
  if [ -e "$f" ]; then args+=("$("$run" winepath -w "$f" 2>/dev/null | tr -d '\r')"); else args+=("$f"); fi
done
exec "$run" "$windows_build/QUENLAT.EXE" "${args[@]}"
