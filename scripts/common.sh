# Shared by the build, test and run scripts.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_native="$root/build/native"
build_windows="$root/build/windows"
build_sanitize="$root/build/sanitize"

# Starts a virtual X display unless one is already usable, and stops it when
# the calling script ends.
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  trap 'stop_display' EXIT
}

stop_display() {
  WINEPREFIX="$build_windows/wineprefix" wineserver -k >/dev/null 2>&1 || true
  if [ -n "${xvfb_pid:-}" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
