#!/bin/sh
# What the console tool asks of the system for many small files and one
# large one, recorded by strace: each file is read once (the bytes read from
# it add up to its size), nothing seeks and the current folder is never
# changed, and the threads that flush the files are made once for the run,
# not for each batch. Usage: one_read.sh WORK TOOL
set -eu
work=$1 tool=$2
rm -rf "$work"
mkdir -p "$work/files"
trap 'rm -rf "$work"' EXIT
# 300 small files (more than two batches) and one of 3 MiB, with CR-LF breaks.
i=0
while [ $i -lt 300 ]; do
  n=$((i % 97 + 1))
  yes 'a line of the small file' | head -n "$n" | sed 's/$/\r/' >"$work/files/s$i.txt"
  i=$((i + 1))
done
yes 'a line of the large file, of about fifty bytes ....' | head -n 60000 | sed 's/$/\r/' \
  >"$work/files/large.txt"
ls -l "$work/files" | awk 'NR > 1 { print $NF, $5 }' | sort >"$work/sizes"

# The leak checker of a sanitized build cannot run under ptrace.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export ASAN_OPTIONS
(cd "$work/files" && strace -f -y -s 0 -o "$work/trace" \
  -e trace=read,pread64,lseek,chdir,fchdir,clone,clone3 "$tool" --to-lf --quiet ./*.txt)

fail=0
# The bytes read from each file, by its name.
awk -v dir="$work/files/" '
  match($0, /(read|pread64)\([0-9]+<[^>]*>/) {
    call = substr($0, RSTART, RLENGTH)
    path = call; sub(/^[a-z0-9]+\([0-9]+</, "", path); sub(/>$/, "", path)
    if (index(path, dir) != 1) next
    n = $NF
    if (n ~ /^[0-9]+$/) got[substr(path, length(dir) + 1)] += n
  }
  END { for (f in got) print f, got[f] }' "$work/trace" | sort >"$work/read"
if ! cmp -s "$work/sizes" "$work/read"; then
  echo "each file read once: the bytes read from a file differ from its size" >&2
  diff "$work/sizes" "$work/read" | head -10 >&2
  fail=1
fi
if grep -Eq '(lseek|chdir|fchdir)\(' "$work/trace"; then
  echo "a seek or a change of the current folder:" >&2
  grep -E '(lseek|chdir|fchdir)\(' "$work/trace" | head -5 >&2
  fail=1
fi
# 32 flushing threads at most, and one that writes the large file's blocks.
threads=$(grep -Ec '(clone|clone3)\(' "$work/trace" || true)
if [ "$threads" -gt 33 ]; then
  echo "$threads threads made: the flushing threads are made anew" >&2
  fail=1
fi
[ "$fail" = 0 ] && echo "each file read once, no seek, no change of folder, $threads threads"
exit "$fail"
