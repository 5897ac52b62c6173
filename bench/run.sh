#!/usr/bin/env bash
# Benchmark of quenlat-cli against a durable copy and dos2unix/unix2dos.
#
#   bench/run.sh            build, generate the inputs, measure, print a
#                           Markdown table and put it into README.md
#   BENCH_RUNS=N            timed runs per command (default 5; 3 for the
#                           10,000 small files)
#   BENCH_NO_README=1       print the table only
#
# Inputs (in bench/out/, generated once and kept): a 512 MiB text file of
# lines of 30 to 60 bytes (45 on average) with CR-LF breaks, its LF twin, and
# 10,000 files of 1 to 8 KiB with CR-LF breaks. Every conversion starts from a
# fresh copy of its input, flushed to the disk before the clock starts; the
# page cache is warm. Times are hyperfine's means; each ratio is to the copy
# with the same durability measured in the same run.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
"$root/scripts/build.sh" all >/dev/null

out="$root/bench/out"
runs=${BENCH_RUNS:-5}
small_runs=${BENCH_RUNS:-3}
cli="$build_native/quenlat-cli"
cli_exe="$build_windows/quenlat-cli.exe"
replace_each="$build_native/bench-replace-each"
wine="$build_windows/wine-run.sh"
for tool in hyperfine dos2unix unix2dos /usr/bin/time awk; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
mkdir -p "$out"
cd "$out"

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

# --- Wine: a prefix of the benchmark's own, kept running between commands ---
ensure_display
export QUENLAT_WINEPREFIX="$out/wineprefix"
"$wine" cmd /c exit >/dev/null 2>&1 || true
WINEPREFIX="$QUENLAT_WINEPREFIX" wineserver -p
stop_bench() { WINEPREFIX="$QUENLAT_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true; stop_display; }
trap stop_bench EXIT

# --- Measuring ------------------------------------------------------------------
# measure KEY RUNS PREPARE COMMAND: mean seconds into $out/KEY.time, peak
# resident memory of one more run (KiB, /usr/bin/time) into $out/KEY.rss.
measure() {
  local key=$1 n=$2 prepare=$3 command=$4
  echo "bench: $key" >&2
  hyperfine --style none --runs "$n" --prepare "$prepare" --export-csv "$key.csv" \
            --command-name "$key" "$command" >/dev/null
  awk -F, 'NR == 2 { printf "%.3f\n", $2 }' "$key.csv" >"$key.time"
  sh -c "$prepare"
  /usr/bin/time -f %M -o "$key.rss" sh -c "$command"
  rm -f "$key.csv"
}

restore_big_crlf="cp big.crlf.orig big.txt && sync"
restore_big_lf="cp big.lf.orig big.txt && sync"
restore_small="rm -rf small && cp -r small.orig small && sync"
# Windows command lines hold at most 32767 characters: the .exe gets the small
# files in batches, and its baseline the same batches.
batch="ls | xargs -s 30000"

measure copy_native "$runs" "rm -f copy.txt && sync" \
  "dd if=big.crlf.orig of=copy.txt bs=1M conv=fsync status=none"
measure cli_lf_native "$runs" "$restore_big_crlf" "$cli --to-lf --quiet big.txt"
measure cli_crlf_native "$runs" "$restore_big_lf" "$cli --to-crlf --quiet big.txt"
measure dos2unix "$runs" "$restore_big_crlf" "dos2unix -q big.txt"
measure unix2dos "$runs" "$restore_big_lf" "unix2dos -q big.txt"
measure copy_wine "$runs" "rm -f copy.txt && sync" \
  "$wine $build_windows/bench-durable-copy.exe big.crlf.orig copy.txt"
measure cli_lf_wine "$runs" "$restore_big_crlf" "$wine $cli_exe --to-lf --quiet big.txt"
measure cli_crlf_wine "$runs" "$restore_big_lf" "$wine $cli_exe --to-crlf --quiet big.txt"

measure small_copy "$small_runs" "$restore_small" "cd small && $replace_each f*"
measure small_copy_dirsync "$small_runs" "$restore_small" \
  "cd small && $replace_each --sync-folder f*"
measure small_cli "$small_runs" "$restore_small" "cd small && $cli --to-lf --quiet f*"
measure small_dos2unix "$small_runs" "$restore_small" "cd small && dos2unix -q f*"
measure small_copy_wine "$small_runs" "$restore_small" \
  "cd small && $batch $wine $build_windows/bench-replace-each.exe"
measure small_cli_wine "$small_runs" "$restore_small" \
  "cd small && $batch $wine $cli_exe --to-lf --quiet"

# Peak memory against file size: 10 MiB and 1 GiB files, both directions.
for i in $(seq 10); do cat chunk.crlf; done >mem10.crlf
for i in $(seq 1024); do cat chunk.crlf; done >mem1g.crlf
for size in 10 1g; do
  /usr/bin/time -f %M -o "mem_${size}_lf.rss" "$cli" --to-lf --quiet "mem$size.crlf"
  /usr/bin/time -f %M -o "mem_${size}_crlf.rss" "$cli" --to-crlf --quiet "mem$size.crlf"
done
rm -f mem10.crlf mem1g.crlf big.txt copy.txt
rm -rf small

# --- Table ---------------------------------------------------------------------
t() { cat "$1.time"; }
rss() { awk '{ printf "%.1f MiB", $1 / 1024 }' "$1.rss"; }
ratio() { awk -v a="$(t "$1")" -v b="$(t "$2")" 'BEGIN { printf "%.2f", a / b }'; }
speedup() { awk -v a="$(t "$1")" -v b="$(t "$2")" 'BEGIN { printf "%.1f", b / a }'; }
row() { # what, key, baseline key, extra column
  echo "| $1 | $(t "$2") s | $(ratio "$2" "$3") | $4 | $(rss "$2") |"
}

table=$(cat <<EOF
Measured by \`bench/run.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores, $(uname -sr), page cache
warm; mean of $runs runs (small files: $small_runs), each from a fresh copy flushed to disk.
Ratios are to the durable copy of the same run (lower is better; target at most 1.3).

| 512 MiB file, 45-byte lines | time | ratio to copy | note | peak memory |
|---|---|---|---|---|
$(row "durable copy: \`dd bs=1M conv=fsync\`" copy_native copy_native "baseline")
$(row "\`quenlat-cli --to-lf\`" cli_lf_native copy_native "$(speedup cli_lf_native dos2unix)x faster than dos2unix")
$(row "\`quenlat-cli --to-crlf\`" cli_crlf_native copy_native "$(speedup cli_crlf_native unix2dos)x faster than unix2dos")
$(row "\`dos2unix\` (no flush)" dos2unix copy_native "")
$(row "\`unix2dos\` (no flush)" unix2dos copy_native "")
$(row "Wine: durable copy, 1 MiB blocks (\`bench-durable-copy.exe\`)" copy_wine copy_wine "baseline")
$(row "Wine: \`quenlat-cli.exe --to-lf\`" cli_lf_wine copy_wine "$(speedup cli_lf_wine dos2unix)x faster than dos2unix")
$(row "Wine: \`quenlat-cli.exe --to-crlf\`" cli_crlf_wine copy_wine "$(speedup cli_crlf_wine unix2dos)x faster than unix2dos")

| 10,000 files of 1-8 KiB | time | ratio to copy | note | peak memory |
|---|---|---|---|---|
$(row "durable copy of each: new file, fsync, rename (\`bench-replace-each\`)" small_copy small_copy "baseline")
$(row "the same, and an fsync of the folder after each rename" small_copy_dirsync small_copy "$(ratio small_cli small_copy_dirsync)x of this for quenlat-cli")
$(row "\`quenlat-cli --to-lf\`" small_cli small_copy "")
$(row "\`dos2unix\` (flushes nothing)" small_dos2unix small_copy "")
$(row "Wine: durable copy of each, in batches (\`bench-replace-each.exe\`)" small_copy_wine small_copy_wine "baseline")
$(row "Wine: \`quenlat-cli.exe --to-lf\`, same batches" small_cli_wine small_copy_wine "")

Peak memory of \`quenlat-cli\` (maximum resident set, \`/usr/bin/time\`; target under 16 MiB
for any size): 10 MiB file $(rss mem_10_lf) (--to-lf), $(rss mem_10_crlf) (--to-crlf);
1 GiB file $(rss mem_1g_lf) (--to-lf), $(rss mem_1g_crlf) (--to-crlf). Under Wine the
figures include Wine itself.
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
