#!/bin/bash
# bench/run.sh [--quick] [--runs N] [--cold-runs N] [--keep DIR] [--lumo PATH]: builds lumo and
# the tree writer (Release, in build-bench unless LUMO_BENCH_BUILD says otherwise), then runs bench.py.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${LUMO_BENCH_BUILD:-$root/build-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" $(command -v ninja >/dev/null && echo -G Ninja) -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if ! log=$(cmake --build "$build" -j2 --target lumo make_bench_tree 2>&1); then
  echo "$log" >&2
  exit 1
fi
lumo=$build/lumo
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --lumo) lumo=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
for tool in find strace /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done
exec python3 "$here/bench.py" --lumo "$lumo" --generator "$build/bench/make_bench_tree" "${args[@]}"
