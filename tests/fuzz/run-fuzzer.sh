#!/bin/sh
# Runs one fuzzer for a bounded time on a fresh copy of its seed corpus:
#   run-fuzzer.sh FUZZER SEEDS WORK ARTIFACTS SECONDS
# The seeds stay untouched; new inputs go to WORK, and an input that fails
# goes to ARTIFACTS. The exit code is the fuzzer's: 0 when nothing failed.
set -eu
fuzzer=$1 seeds=$2 work=$3 artifacts=$4 seconds=$5
rm -rf "$work"
mkdir -p "$work" "$artifacts"
cp "$seeds"/* "$work"/
name=$(basename "$fuzzer")
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
     -artifact_prefix="$artifacts/$name-" "$work"
