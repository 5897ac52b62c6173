#!/bin/sh
# The permission bits and owner of files that the Windows console tool
# converts under Wine, read natively: the new file never gives anyone access
# that the old one did not (group write is never added, a file that others
# could not read stays so), and another user's file is not replaced.
#   modes_under_wine.sh WORKDIR CLI RUNNER
set -eu
work=$1 cli=$2 runner=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work"
failed=0

# mode before, mode after
for pair in 600:600 640:600 755:644 644:644 664:644 666:644 700:600 604:644 444:444; do
  before=${pair%:*} after=${pair#*:}
  printf 'a\n' >"f$before"
  chmod "$before" "f$before"
done
"$runner" "$cli" --to-crlf --quiet f600 f640 f755 f644 f664 f666 f700 f604 f444 >out 2>err || true
# (Wine shows no group bits: a group that may not read what others may, 0604,
# can read it afterwards.)
for pair in 600:600 640:600 755:644 644:644 664:644 666:644 700:600 604:644; do
  before=${pair%:*} after=${pair#*:}
  got=$(stat -c %a "f$before")
  content=$(od -An -c "f$before" | tr -d ' ')
  if [ "$got" != "$after" ] || [ "$content" != 'a\r\n' ]; then
    echo "modes_under_wine: f$before became $got with '$content' (expected $after, converted)"
    failed=1
  fi
done
# A read-only file is refused by the probe and keeps everything.
[ "$(stat -c %a f444)" = 444 ] || { echo "modes_under_wine: f444 changed"; failed=1; }

# Another user's file that everyone may write, converted by root: Wine cannot
# give the new file away, so the file is kept as it is and the reason named.
if [ "$(id -u)" = 0 ]; then
  printf 'a\n' >other
  chmod 666 other
  chown 65534:65534 other
  status=0
  "$runner" "$cli" --to-crlf other >out 2>err || status=$?
  if [ "$status" != 1 ] || ! grep -q "other: cannot keep the file's owner" err ||
     [ "$(stat -c '%a %u' other)" != "666 65534" ] || [ "$(cat other)" != a ] ||
     [ "$(ls | grep -c '^tmp')" != 0 ]; then
    echo "modes_under_wine: another user's file: status $status, $(stat -c '%a %u' other):"
    cat err
    failed=1
  fi
fi
exit $failed
