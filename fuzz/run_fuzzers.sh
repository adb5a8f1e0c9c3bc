#!/usr/bin/env bash
# run_fuzzers.sh BUILD_DIR SECONDS: in BUILD_DIR (configured with clang and -DLUMO_FUZZ=ON),
# builds the fuzz targets, writes their seed corpora, replays the committed regressions, then
# runs each target for SECONDS. Fails on any finding; crashing inputs land in
# BUILD_DIR/fuzz-artifacts/<target>/.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR SECONDS" >&2; exit 2; }
build=$(realpath "$1")
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
targets=(version_reader match_pattern date_option option_argument)
limits=(-rss_limit_mb=256 -timeout=1)
# ASan's default 256 MB quarantine alone would reach the RSS limit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32}

cmake --build "$build" -j2 --target make_fuzz_seeds "${targets[@]/#/fuzz_}"
rm -rf "$build/fuzz-seeds"
"$build/fuzz/make_fuzz_seeds" "$build/fuzz-seeds"

status=0
total=0
for target in "${targets[@]}"; do
  fuzzer=$build/fuzz/fuzz_$target
  corpus=$build/fuzz-corpus/$target
  artifacts=$build/fuzz-artifacts/$target
  log=$build/fuzz-$target.log
  mkdir -p "$corpus" "$artifacts"
  if [ -d "$here/regressions/$target" ] &&
     ! "$fuzzer" -runs=0 "${limits[@]}" "$here/regressions/$target" > "$log.replay" 2>&1; then
    echo "$target: a regression input fails again"; tail -40 "$log.replay"; status=1
    continue
  fi
  if ! nice -n 19 "$fuzzer" -max_total_time="$seconds" "${limits[@]}" -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$corpus" "$build/fuzz-seeds/$target" > "$log" 2>&1; then
    echo "$target: FINDING (see $log)"; tail -60 "$log"; status=1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  printf '%-16s execs %12s  %s\n' "$target" "${execs:-?}" "$coverage"
  total=$((total + ${execs:-0}))
done
printf '%-16s execs %12s\n' total "$total"
exit $status
