#!/usr/bin/env bash
# Benchmark of quenlat-cli against a durable copy and dos2unix/unix2dos.
#
#   bench/run.sh            build, generate the inputs, measure, print a
#                           Markdown table and put it into README.md
#   BENCH_RUNS=N            timed runs per command (default 7; 5 for the
#                           10,000 small files)
#   BENCH_NO_README=1       print the table only
#   BENCH_INPUTS_ONLY=1     generate the inputs and stop
#
# The console tool as it was at 6055bdf (before the binary check, the change
# check and the batches) is built from that commit into bench/out once and
# measured beside today's.
# Inputs (in bench/out/, generated once and kept): a 512 MiB text file of
# lines of 30 to 60 bytes (45 on average) with CR-LF breaks, its LF twin, and
# 10,000 files of 1 to 8 KiB with CR-LF breaks. Every conversion starts from a
# fresh copy of its input, flushed to the disk before the clock starts; the
# page cache is warm. Times are hyperfine's medians (timings scatter here);
# each ratio is to a copy with the same durability in the same run.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
"$root/scripts/install-deps.sh"
choose_windows_build  # the 32-bit programs, or the 64-bit ones where they cannot run
"$root/scripts/build.sh" native >/dev/null
"$root/scripts/build.sh" "${windows_build##*/}" >/dev/null

out="$root/bench/out"
runs=${BENCH_RUNS:-7}
small_runs=${BENCH_RUNS:-5}
cli="$build_native/quenlat-cli"
cli_exe="$windows_build/quenlat-cli.exe"
replace_each="$build_native/bench-replace-each"
wine="$windows_build/wine-run.sh"
for tool in hyperfine dos2unix unix2dos /usr/bin/time awk strace git; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
mkdir -p "$out"
cd "$out"

# --- The tool as it was at 6055bdf -----------------------------------------------
old_rev=6055bdf
old_cli="$out/tool-$old_rev/build/quenlat-cli"
if [ ! -x "$old_cli" ]; then
  echo "bench: building quenlat-cli from $old_rev" >&2
  rm -rf "$out/tool-$old_rev"
  mkdir -p "$out/tool-$old_rev"
  git -C "$root" archive "$old_rev" | tar -x -C "$out/tool-$old_rev"
  cmake -S "$out/tool-$old_rev" -B "$out/tool-$old_rev/build" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$out/tool-$old_rev/build" --target quenlat-cli >/dev/null
fi

# --- Inputs -------------------------------------------------------------------
if [ ! -f big.crlf.orig ] || [ ! -f big.lf.orig ]; then
  echo "bench: generating the 512 MiB files" >&2
  # One MiB of random lines, repeated: the same lines in both twins.
  awk 'BEGIN { srand(512); n = 0
    while (n < 1048576) {
      len = 30 + int(rand() * 31); s = ""
      for (i = 0; i < len; i++) s = s sprintf("%c", 33 + int(rand() * 94))
      printf "%s\r\n", s > "chunk.crlf"; printf "%s\n", s > "chunk.lf"; n += len + 2
    } }'
  for i in $(seq 512); do cat chunk.crlf; done >big.crlf.orig
  for i in $(seq 512); do cat chunk.lf; done >big.lf.orig
fi
if [ ! -d small.orig ]; then
  echo "bench: generating 10,000 small files" >&2
  mkdir -p small.orig.tmp
  awk 'BEGIN { srand(10000)
    for (f = 0; f < 10000; f++) {
      name = sprintf("small.orig.tmp/f%05d.txt", f); size = 1024 + int(rand() * 7169); n = 0
      while (n < size) {
        len = 30 + int(rand() * 31); s = ""
        for (i = 0; i < len; i++) s = s sprintf("%c", 33 + int(rand() * 94))
        printf "%s\r\n", s > name; n += len + 2
      }
      close(name)
    } }'
  mv small.orig.tmp small.orig
fi

if [ -n "${BENCH_INPUTS_ONLY:-}" ]; then exit 0; fi

# --- Wine: a prefix of the benchmark's own, kept running between commands ---
ensure_display
export QUENLAT_WINEPREFIX="$out/wineprefix${windows_build##*/windows}"  # a 64-bit prefix apart
# The prefix is made first: making it waits for every Wine program to end,
# which a persistent server never does.
"$wine" cmd /c exit >/dev/null 2>&1 || true
"$wine" --persistent-server 2>/dev/null || true  # fails if one runs already
stop_bench() { WINEPREFIX="$QUENLAT_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true; stop_display; }
trap stop_bench EXIT

# --- Measuring ------------------------------------------------------------------
# measure KEY RUNS PREPARE COMMAND: hyperfine's median, minimum and maximum in
# seconds into KEY.time; the peak resident memory (KiB) of one more run, taken
# by /usr/bin/time, into KEY.rss.
measure() {
  local key=$1 n=$2 prepare=$3 command=$4
  echo "bench: $key" >&2
  # hyperfine shows nothing of a failing command: its errors go to KEY.err.
  rm -f "$key.err"
  if ! hyperfine --style none --runs "$n" --prepare "$prepare" --export-csv "$key.csv" \
                 --command-name "$key" "{ $command; } 2>>$key.err" >/dev/null; then
    echo "bench: $key failed; what it wrote to standard error:" >&2
    cat "$key.err" >&2
    exit 1
  fi
  awk -F, 'NR == 2 { printf "%.3f %.3f %.3f\n", $4, $7, $8 }' "$key.csv" >"$key.time"
  sh -c "$prepare"
  /usr/bin/time -f %M -o "$key.rss" sh -c "$command"
  rm -f "$key.csv"
}

restore_big_crlf="cp big.crlf.orig big.txt && sync"
restore_big_lf="cp big.lf.orig big.txt && sync"
restore_small="rm -rf small && cp -r small.orig small && sync"
# The copy is measured twice: into a new file, and over an existing file of the
# same size, which (like a conversion in place) disposes of the old content.
copy_new="rm -f copy.txt && sync"
copy_over="cp big.crlf.orig copy.txt && sync"
dd_copy="dd if=big.crlf.orig of=copy.txt bs=1M conv=fsync status=none"
exe_copy="$wine $windows_build/bench-durable-copy.exe big.crlf.orig copy.txt"
# Windows command lines hold at most 32767 characters: the .exe gets the small
# files in batches, and its baseline the same batches.
batch="ls | xargs -s 30000"

measure copy_new "$runs" "$copy_new" "$dd_copy"
measure copy_over "$runs" "$copy_over" "$dd_copy"
measure cli_lf "$runs" "$restore_big_crlf" "$cli --to-lf --quiet big.txt"
measure cli_crlf "$runs" "$restore_big_lf" "$cli --to-crlf --quiet big.txt"
measure old_lf "$runs" "$restore_big_crlf" "$old_cli --to-lf --quiet big.txt"
measure old_crlf "$runs" "$restore_big_lf" "$old_cli --to-crlf --quiet big.txt"
measure dos2unix "$runs" "$restore_big_crlf" "dos2unix -q big.txt"
measure unix2dos "$runs" "$restore_big_lf" "unix2dos -q big.txt"
measure wine_copy_new "$runs" "$copy_new" "$exe_copy"
measure wine_copy_over "$runs" "$copy_over" "$exe_copy"
measure wine_cli_lf "$runs" "$restore_big_crlf" "$wine $cli_exe --to-lf --quiet big.txt"
measure wine_cli_crlf "$runs" "$restore_big_lf" "$wine $cli_exe --to-crlf --quiet big.txt"

measure small_copy "$small_runs" "$restore_small" "cd small && $replace_each f*"
measure small_copy_folder "$small_runs" "$restore_small" \
  "cd small && $replace_each --sync-folder f*"
measure small_cli "$small_runs" "$restore_small" "cd small && $cli --to-lf --quiet f*"
measure small_old "$small_runs" "$restore_small" "cd small && $old_cli --to-lf --quiet f*"
measure small_dos2unix "$small_runs" "$restore_small" "cd small && dos2unix -q f*"
measure wine_small_copy "$small_runs" "$restore_small" \
  "cd small && $batch $wine $windows_build/bench-replace-each.exe"
measure wine_small_copy_temp "$small_runs" "$restore_small" \
  "cd small && $batch $wine $windows_build/bench-replace-each.exe --temp-name"
measure wine_small_cli "$small_runs" "$restore_small" \
  "cd small && $batch $wine $cli_exe --to-lf --quiet"

# System calls of the 10,000 small files, every thread's, the process's
# start and end included.
echo "bench: system calls" >&2
sh -c "$restore_small"
(cd small && strace -f -c -o ../small.strace "$cli" --to-lf --quiet f*)
awk '$NF == "total" { printf "%d\n", $4 }' small.strace >small.calls

# A list of one million names: the 10,000 small files, each named 100 times.
echo "bench: a million names" >&2
sh -c "$restore_small"
for i in $(seq 100); do ls small | sed 's|^|small/|'; done >million.list
/usr/bin/time -f %M -o names_million.rss "$cli" --to-lf --quiet --files-from million.list >/dev/null
rm -f million.list

# What making a new file costs in the folder of 10,000 files, by the name
# GetTempFileNameA makes and by the baseline's long name.
echo "bench: new names" >&2
sh -c "$restore_small"
(cd small && "$wine" "$windows_build/bench-new-name.exe" 500) >new_name.ms

# Peak memory against file size: 10 MiB and 1 GiB files.
echo "bench: memory" >&2
for i in $(seq 10); do cat chunk.crlf; done >mem10m.txt
for i in $(seq 1024); do cat chunk.crlf; done >mem1g.txt
for size in 10m 1g; do
  /usr/bin/time -f %M -o "mem_${size}_lf.rss" "$cli" --to-lf --quiet "mem$size.txt"
  /usr/bin/time -f %M -o "mem_${size}_crlf.rss" "$cli" --to-crlf --quiet "mem$size.txt"
  /usr/bin/time -f %M -o "mem_${size}_wine.rss" "$wine" "$cli_exe" --to-lf --quiet "mem$size.txt"
done
rm -f mem10m.txt mem1g.txt big.txt copy.txt
rm -rf small

# --- Table ---------------------------------------------------------------------
median() { awk '{ print $1 }' "$1.time"; }
times() { awk '{ printf "%.2f s (%.2f-%.2f)", $1, $2, $3 }' "$1.time"; }
rss() { awk '{ printf "%.1f MiB", $1 / 1024 }' "$1.rss"; }
ratio() { awk -v a="$(median "$1")" -v b="$(median "$2")" 'BEGIN { printf "%.2f", a / b }'; }
faster() { awk -v a="$(median "$1")" -v b="$(median "$2")" 'BEGIN { printf "%.1f", b / a }'; }
big_row() { # what, key, copy into a new file, copy over the old file
  echo "| $1 | $(times "$2") | $(ratio "$2" "$3") | $(ratio "$2" "$4") | $(rss "$2") |"
}
small_row() { # what, key, baseline
  echo "| $1 | $(times "$2") | $(ratio "$2" "$3") | $(rss "$2") |"
}

table=$(cat <<EOF
Measured by \`bench/run.sh\` on $(date -u +%Y-%m-%d): $(nproc) cores, $(uname -sr), ext4, page
cache warm. Times are medians of $runs runs (small files: $small_runs), fastest and slowest
run in brackets; every run starts from a fresh copy of its input, flushed to the disk. A
ratio is a median over the median of the durable copy in the same run: lower is better, the
target is at most 1.1 natively and 1.2 under Wine (to the copy into a new file). Peak memory is the maximum resident set (\`/usr/bin/time\`); under Wine
it includes Wine itself. The Wine rows are of the $([ "$windows_build" = "$build_windows" ] && echo 32 || echo 64)-bit build.

**512 MiB text file, lines of 45 bytes on average**

| command | time | ratio to the copy into a new file | ratio to the copy over the old file | peak memory |
|---|---|---|---|---|
$(big_row "durable copy \`dd bs=1M conv=fsync\` into a new file" copy_new copy_new copy_over)
$(big_row "the same over an existing file of that size" copy_over copy_new copy_over)
$(big_row "\`quenlat-cli --to-lf\`" cli_lf copy_new copy_over)
$(big_row "\`quenlat-cli --to-crlf\`" cli_crlf copy_new copy_over)
$(big_row "\`quenlat-cli --to-lf\` as it was at $old_rev" old_lf copy_new copy_over)
$(big_row "\`quenlat-cli --to-crlf\` as it was at $old_rev" old_crlf copy_new copy_over)
$(big_row "\`dos2unix\` (flushes nothing)" dos2unix copy_new copy_over)
$(big_row "\`unix2dos\` (flushes nothing)" unix2dos copy_new copy_over)
$(big_row "Wine: durable copy in 1 MiB blocks (\`bench-durable-copy.exe\`) into a new file" wine_copy_new wine_copy_new wine_copy_over)
$(big_row "Wine: the same over an existing file of that size" wine_copy_over wine_copy_new wine_copy_over)
$(big_row "Wine: \`quenlat-cli.exe --to-lf\`" wine_cli_lf wine_copy_new wine_copy_over)
$(big_row "Wine: \`quenlat-cli.exe --to-crlf\`" wine_cli_crlf wine_copy_new wine_copy_over)

Against dos2unix (target: at least 6 times as fast): \`quenlat-cli --to-lf\` is
$(faster cli_lf dos2unix) times as fast as \`dos2unix\` natively and $(faster wine_cli_lf dos2unix) times under Wine;
\`--to-crlf\` is $(faster cli_crlf unix2dos) times as fast as \`unix2dos\` natively and $(faster wine_cli_crlf unix2dos) times under Wine.

**10,000 files of 1 to 8 KiB, CR-LF to LF**

| command | time | ratio to the durable copy of each file | peak memory |
|---|---|---|---|
$(small_row "durable copy of each: new file, fsync, rename over the old (\`bench-replace-each\`)" small_copy small_copy)
$(small_row "the same and an fsync of the folder after each rename" small_copy_folder small_copy)
$(small_row "\`quenlat-cli --to-lf\`" small_cli small_copy)
$(small_row "\`quenlat-cli --to-lf\` as it was at $old_rev" small_old small_copy)
$(small_row "\`dos2unix\` (flushes nothing)" small_dos2unix small_copy)
$(small_row "Wine: durable copy of each (\`bench-replace-each.exe\`), in batches of 30,000 characters" wine_small_copy wine_small_copy)
$(small_row "Wine: the same, its new file made by \`GetTempFileNameA\` as quenlat-cli's must be" wine_small_copy_temp wine_small_copy)
$(small_row "Wine: \`quenlat-cli.exe --to-lf\`, the same batches" wine_small_cli wine_small_copy)

\`quenlat-cli --to-lf\` takes $(ratio small_cli small_dos2unix) times as long as \`dos2unix\` (target: at most 0.8)
and $(ratio small_cli small_copy) times as long as the durable copy of each file, with
$(awk '{ printf "%.1f", $1 / 10000 }' small.calls) system calls per file (\`strace -f -c\` over the whole run, every thread and the
process's start included; target: at most 20). Under
Wine, \`quenlat-cli.exe\` takes $(ratio wine_small_cli wine_small_copy_temp) times as long as the copy whose new file
\`GetTempFileNameA\` makes (target: at most 0.42, its figure before). Wine looks through the whole folder for
any new name, and more slowly for a short (8.3) one like \`tmp1a2b.tmp\`: in the folder of
10,000 files, making and deleting an empty file took $(awk '{ print $1 }' new_name.ms) ms by \`GetTempFileNameA\`
and $(awk '{ print $2 }' new_name.ms) ms as \`NAME.new\` (\`bench-new-name.exe 500\`); \`quenlat-cli.exe\` makes a batch's
temporary files in a folder of the batch's own, where that costs next to nothing.

**Peak memory of \`quenlat-cli\` against file size** (target: under 16 MiB): 10 MiB file
$(rss mem_10m_lf) (--to-lf), $(rss mem_10m_crlf) (--to-crlf), $(rss mem_10m_wine) under Wine; 1 GiB file
$(rss mem_1g_lf) (--to-lf), $(rss mem_1g_crlf) (--to-crlf), $(rss mem_1g_wine) under Wine; a list of one
million names (\`--files-from\`, the 10,000 small files named 100 times each) $(rss names_million).
EOF
)
echo "$table"

if [ -z "${BENCH_NO_README:-}" ]; then
  readme="$root/README.md"
  printf '%s\n' "$table" >"$out/table.md"
  awk -v table="$out/table.md" '
    /<!-- bench:begin -->/ { print; while ((getline line < table) > 0) print line; skip = 1; next }
    /<!-- bench:end -->/ { skip = 0 }
    !skip { print }' "$readme" >"$readme.new" && mv "$readme.new" "$readme"
fi
