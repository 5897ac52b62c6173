#!/usr/bin/env bash
# Builds everything and runs every test: natively, natively again with
# AddressSanitizer and UndefinedBehaviorSanitizer (and the fuzzers, about 20 s
# each), then the Windows builds under Wine in a virtual display: the 32-bit
# one where this kernel runs 32-bit programs, and the 64-bit one always.
# Extra arguments go to ctest (e.g. -R name).
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" all
"$root/scripts/build.sh" sanitize
ensure_display

status=0
echo "== native tests"
ctest --test-dir "$build_native" --output-on-failure --no-tests=error -j "$(nproc)" "$@" || status=1
echo "== packages (scripts/package.sh), unpacked and listed; the MSI installed under Wine"
mapfile -t packages < <("$root/scripts/package.sh" | tail -n 3)
if [ "${#packages[@]}" -eq 3 ]; then
  "$root/tests/package/package_test.sh" "${packages[@]}" || status=1
else
  status=1
fi
echo "== native tests with AddressSanitizer and UndefinedBehaviorSanitizer, and fuzzers"
ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$build_sanitize" --output-on-failure --no-tests=error -j "$(nproc)" "$@" || status=1
# The 32-bit build is the program users run; the 64-bit one keeps the same
# sources clean for both word sizes and runs everywhere.
windows_suite() {
  "$1/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true  # make the prefix once
  ctest --test-dir "$1" --output-on-failure --no-tests=error -j "$(nproc)" "${@:2}" || status=1
}
if runs_win32; then
  echo "== Windows tests under Wine, 32-bit build"
  windows_suite "$build_windows" "$@"
else
  echo "== Windows tests of the 32-bit build NOT run: $win32_why"
fi
echo "== Windows tests under Wine, 64-bit build"
windows_suite "$build_windows64" "$@"
# The tests run as root and hand the converter devices of their own making;
# one that reached the machine's own would leave every program here without
# them. Whatever the tests did, the run fails if these are no longer the
# devices they were.
echo "== the machine's own devices"
for device in null:1:3 zero:1:5 urandom:1:9; do
  IFS=: read -r name major minor <<<"$device"
  said=$(stat -c '%F %t:%T' "/dev/$name" 2>&1 || true)
  if [ "$said" != "character special file $(printf '%x:%x' "$major" "$minor")" ]; then
    echo "/dev/$name is no longer the character device $major:$minor: $said" >&2
    status=1
  fi
done
exit $status
