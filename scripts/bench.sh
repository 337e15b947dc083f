#!/usr/bin/env bash
# Builds the benchmark programs (Release) into build/bench and runs them, five repetitions
# each, reporting mean, median and spread.
#   ./scripts/bench.sh                 every program of bench/
#   ./scripts/bench.sh bench_log ...   only these (the "bench_" prefix may be left out)
# Extra Google Benchmark options go in KEXO_BENCH_ARGS, e.g. --benchmark_filter=HostLog.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKEXO_BUILD_BENCH=ON -DKEXO_BUILD_TESTS=OFF \
      -DKEXO_BUILD_APP=OFF >/dev/null
cmake --build build/bench -j "$jobs"

programs=()
if [ $# -eq 0 ]; then
  for src in bench/*.cpp; do
    [ -e "$src" ] || continue
    programs+=("$(basename "$src" .cpp)")
  done
else
  for p in "$@"; do
    [[ "$p" == bench_* ]] || p="bench_$p"
    programs+=("$p")
  done
fi

for p in "${programs[@]}"; do
  exe="build/bench/bench/$p"
  if [ ! -x "$exe" ]; then
    echo "bench.sh: no benchmark program $p" >&2
    exit 1
  fi
  echo "== $p"
  # shellcheck disable=SC2086
  "$exe" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true ${KEXO_BENCH_ARGS:-}
done
