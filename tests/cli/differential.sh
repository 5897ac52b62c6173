#!/bin/sh
# Differential check: on generated text files that hold only CR-LF breaks or
# only LF breaks (no 0x1A), quenlat-cli --to-lf and --to-crlf must give byte
# for byte what dos2unix and unix2dos give.
#   differential.sh WORKDIR CLI [RUNNER]   (RUNNER: e.g. the Wine runner for a .exe)
set -eu
work=$1 cli=$2 runner=${3:-}
for tool in dos2unix unix2dos awk cmp; do
  command -v "$tool" >/dev/null || { echo "differential: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done
rm -rf "$work"
mkdir -p "$work/ours" "$work/theirs"
cd "$work"

# Printable ASCII, tabs and some UTF-8; lines of 0 to 150 bytes; with and
# without a final line break; empty files too. The same seeds every run.
count=60
awk -v count=$count 'BEGIN {
  srand(20261210)
  for (f = 0; f < count; f++) {
    lines = f < 2 ? 0 : int(rand() * 300)
    eol = f % 2 ? "\r\n" : "\n"
    name = sprintf("ours/%s%02d.txt", f % 2 ? "crlf" : "lf", f)
    printf "" > name
    for (l = 0; l < lines; l++) {
      len = int(rand() * 150)
      line = ""
      for (i = 0; i < len; i++) {
        r = rand()
        if (r < 0.05) line = line "\t"
        else if (r < 0.08) line = line "\303\251"
        else line = line sprintf("%c", 32 + int(rand() * 95))
      }
      last = l == lines - 1 && f % 3 == 0
      printf "%s%s", line, last ? "" : eol > name
    }
    close(name)
  }
}'
cp ours/* theirs/

# quenlat-cli runs in the files' folder with relative names, so that the same
# call works for the native program and for the .exe under Wine.
run_cli() { (cd ours && $runner "$cli" --quiet "$@"); }

status=0
compare() {
  for f in ours/*; do
    name=${f#ours/}
    if ! cmp -s "$f" "theirs/$name"; then
      echo "differential: $1 differs on $name"
      status=1
    fi
  done
}

lf_files=$(cd ours && ls lf*.txt) crlf_files=$(cd ours && ls crlf*.txt)
run_cli --to-lf $crlf_files $lf_files
(cd theirs && dos2unix -q $crlf_files $lf_files)
compare "--to-lf against dos2unix"

run_cli --to-crlf $crlf_files $lf_files
(cd theirs && unix2dos -q $crlf_files $lf_files)
compare "--to-crlf against unix2dos"

[ $status -eq 0 ] && echo "differential: $count files, both directions, identical"
exit $status
