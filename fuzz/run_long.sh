#!/usr/bin/env bash
# Runs every libFuzzer target in turn for SECONDS each (default 600), new
# inputs into WORK/corpus-NAME ahead of the committed seeds, crashes into
# WORK/artifacts-NAME, and prints one line per target with its execution
# count. Needs the clang build (see fuzz/CMakeLists.txt):
#
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKESTREL_LIBFUZZER=ON
#   cmake --build build-fuzz -j2
#   fuzz/run_long.sh [SECONDS] [WORK]          default WORK: build-fuzz/long
#
# Copy a crashing input into fuzz/corpus/NAME/ as a regression seed once
# it is fixed; the replay tests run the seeds in every build.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
work=${2:-$root/build-fuzz/long}
bin=$root/build-fuzz/bin
mkdir -p "$work"
summary=$work/summary.txt
: > "$summary"
for exe in "$bin"/fuzz_*; do
  name=$(basename "$exe"); name=${name#fuzz_}
  mkdir -p "$work/corpus-$name" "$work/artifacts-$name"
  log=$work/$name.log
  (cd "$work" && "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len=65536 \
     -print_final_stats=1 -artifact_prefix="$work/artifacts-$name/" \
     "$work/corpus-$name" "$root/fuzz/corpus/$name") > "$log" 2>&1
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  crashes=$(ls "$work/artifacts-$name" | wc -l)
  printf '%-16s rc=%d executions=%s new-corpus=%d artifacts=%d\n' "$name" "$rc" "${execs:-?}" \
    "$(ls "$work/corpus-$name" | wc -l)" "$crashes" | tee -a "$summary"
done
