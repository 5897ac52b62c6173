#!/usr/bin/env bash
# How to share the flush cost of many small files (bench-batch-flush): one
# after another, a batch flushed from several threads, a batch flushed by one
# syncfs; each alone and while another program writes a large file to the
# same filesystem without flushing it (which a syncfs must wait for too).
# Uses bench/run.sh's 10,000 small files. BENCH_RUNS=N runs per command (3).
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
"$root/scripts/build.sh" native >/dev/null
BENCH_INPUTS_ONLY=1 "$root/bench/run.sh"
out="$root/bench/out"
tool="$build_native/bench-batch-flush"
runs=${BENCH_RUNS:-3}
cd "$out"
restore="rm -rf small && cp -r small.orig small && sync"
ways=(-n "one after another" "cd small && $tool each f*"
      -n "batches of 256, 8 threads" "cd small && $tool threads --threads 8 f*"
      -n "batches of 256, 32 threads" "cd small && $tool threads --threads 32 f*"
      -n "batches of 256, syncfs" "cd small && $tool syncfs f*"
      -n "dos2unix (flushes nothing)" "cd small && dos2unix -q f*")
echo "== alone"
hyperfine --style basic --runs "$runs" --prepare "$restore" "${ways[@]}" 2>&1 | grep -E 'Time|^Benchmark'
echo "== while another program writes 2 GiB to the same filesystem"
hyperfine --style basic --runs "$runs" \
  --prepare "$restore; rm -f writer.bin; (dd if=/dev/zero of=writer.bin bs=1M count=2048 status=none &)" \
  "${ways[@]}" 2>&1 | grep -E 'Time|^Benchmark'
rm -f "$out/writer.bin"
