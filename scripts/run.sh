#!/usr/bin/env bash
# Builds QUENLAT.EXE and starts it under Wine with the given files (none: the
# drop window). Uses the current X display, or a virtual one when there is none.
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/build.sh" windows >/dev/null
ensure_display
args=()
for f in "$@"; do
  if [ -e "$f" ]; then args+=("$(WINEPREFIX="$build_windows/wineprefix" winepath -w "$f" 2>/dev/null)"); else args+=("$f"); fi
done
exec "$build_windows/wine-run.sh" "$build_windows/QUENLAT.EXE" "${args[@]}"
