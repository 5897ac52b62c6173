# Shared by the build, test and run scripts.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_native="$root/build/native"
build_windows="$root/build/windows"
build_windows64="$root/build/windows64"
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
  WINEPREFIX="$build_windows64/wineprefix" wineserver -k >/dev/null 2>&1 || true
  if [ -n "${xvfb_pid:-}" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}

# True when this kernel runs 32-bit programs. Some kernels have IA-32
# emulation switched off; there Wine's 32-bit loader fails with "Exec format
# error" and only the 64-bit build runs, under wine64. Asked once per script
# run (the answer is passed on to the scripts it starts); QUENLAT_NO_WIN32=1
# answers no, to try that case on any machine. $win32_why says why not.
runs_win32() {
  if [ -z "${win32_answer:-}" ]; then
    local said
    if [ "${QUENLAT_NO_WIN32:-0}" != 0 ]; then
      win32_answer=no win32_why="QUENLAT_NO_WIN32 is set"
    elif said=$(/usr/lib/wine/wine --version 2>&1); then
      win32_answer=yes win32_why=""
    else
      win32_answer=no
      win32_why="this kernel runs no 32-bit programs (Wine's 32-bit loader: ${said##*: })"
    fi
    export win32_answer win32_why
  fi
  [ "$win32_answer" = yes ]
}

# Sets windows_build to the Windows build whose programs run here: the 32-bit
# one where they can, else the 64-bit one, which it says in one line.
choose_windows_build() {
  if runs_win32; then
    windows_build=$build_windows
  else
    windows_build=$build_windows64
    echo "quenlat: using the 64-bit Windows build under wine64: $win32_why" >&2
  fi
}
