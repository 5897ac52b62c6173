#!/bin/sh
# The console tool started in a folder that is removed before it runs: a
# relative path then names no file, never one of that name in another folder
# (under Wine, the Windows folder that Wine starts in instead; natively the
# root). Usage: startup_folder.sh WORK DECOY-FOLDER TOOL [RUNNER...]
set -eu
work=$1 decoys=$2
shift 2
name=quenlat-decoy-$$.txt
"$@" --version >/dev/null 2>&1 || true  # a runner's first start may make its folders
rm -rf "$work"
mkdir -p "$work/start"
printf 'a\n' >"$decoys/$name"
trap 'rm -f "$decoys/$name"; rm -rf "$work"' EXIT
status=0
(cd "$work/start" && rmdir "$work/start" && exec "$@" --to-crlf "$name") \
  >"$work.out" 2>"$work.err" || status=$?
fail=0
if [ "$(od -An -c "$decoys/$name" | tr -d ' ')" != 'a\n' ]; then
  echo "the file of that name in $decoys was converted" >&2
  fail=1
fi
if [ "$status" != 1 ] || ! grep -q "$name: File or directory does not exist" "$work.err"; then
  echo "expected a failure that names $name, got status $status:" >&2
  cat "$work.err" >&2
  fail=1
fi
rm -f "$work.out" "$work.err"
[ "$fail" = 0 ] && echo "a relative path in a removed start-up folder names nothing"
exit "$fail"
