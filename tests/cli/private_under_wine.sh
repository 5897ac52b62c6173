#!/bin/sh
# A private file's new content is private from its creation: the modes of
# the Windows console tool's temporary files under Wine, and of a batch's
# folder of them, read natively while the conversion runs.
#   private_under_wine.sh WORKDIR CLI RUNNER
set -eu
work=$1 cli=$2 runner=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work"
failed=0

# Polls, while the process pid runs, for a name that matches the pattern
# and is of the type (-f, -d); prints its mode when one is seen.
mode_while_running() {
  pid=$1 type=$2 pattern=$3
  while kill -0 "$pid" 2>/dev/null; do
    for name in $pattern; do
      if [ "$type" "$name" ] && mode=$(stat -c %a "$name" 2>/dev/null); then
        echo "$mode"
        return
      fi
    done
  done
  echo none
}

# A large file, whose new content is written for a while before the rename.
head -c $((48 * 1024 * 1024)) /dev/zero | tr '\0' '\n' >seed
for pair in 600:600 640:600; do
  before=${pair%:*} after=${pair#*:}
  cp seed big.txt
  chmod "$before" big.txt
  "$runner" "$cli" --to-crlf --quiet big.txt &
  pid=$!
  got=$(mode_while_running $pid -f 'tmp*.tmp')
  wait $pid || { echo "private_under_wine: the conversion of a $before file failed"; failed=1; }
  if [ "$got" != "$after" ]; then
    echo "private_under_wine: the temporary file of a $before file was $got (expected $after)"
    failed=1
  fi
  rm -f big.txt
done

# Many small private files: converted in batches, their temporary files in a
# folder that only the user may enter.
mkdir many
i=0
while [ $i -lt 400 ]; do
  printf 'a\nb\n' >many/f$i.txt
  chmod 600 many/f$i.txt
  i=$((i + 1))
done
cd many
"$runner" "$cli" --to-crlf --quiet ./*.txt &
pid=$!
folder=$(mode_while_running $pid -d 'tmp*')
inside=$(mode_while_running $pid -f 'tmp*/tmp*.tmp')
wait $pid || { echo "private_under_wine: the batch failed"; failed=1; }
if [ "$folder" != 700 ] || { [ "$inside" != 600 ] && [ "$inside" != none ]; }; then
  echo "private_under_wine: the batch's folder was $folder, a temporary file in it $inside" \
       "(expected 700 and 600)"
  failed=1
fi
[ "$(ls | grep -c '^tmp')" = 0 ] || { echo "private_under_wine: a temporary name was left"; failed=1; }
exit $failed
