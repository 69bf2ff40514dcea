#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them (not part of the test run).
#
#   bash scripts/bench.sh [name] [benchmark arguments...]
#
# name, when given and not starting with "-", keeps only the benchmark
# programs whose name contains it (e.g. "review" runs bench_review). The
# remaining arguments go to every program, e.g.
#   bash scripts/bench.sh library --benchmark_filter=Frontmatter
#   bash scripts/bench.sh --benchmark_format=json
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENNORA_TESTS=OFF -DPENNORA_BENCH=ON >/dev/null
cmake --build build-bench

name=""
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  name=$1
  shift
fi

ran=0
for b in build-bench/bench/bench_*; do
  # Only the programs: the build keeps folders of the same prefix beside them.
  [ -f "$b" ] && [ -x "$b" ] || continue
  case "$(basename "$b")" in *"$name"*) ;; *) continue ;; esac
  echo "== $(basename "$b")"
  "$b" "$@"
  ran=$((ran + 1))
done
if [ "$ran" -eq 0 ]; then
  echo "bench.sh: no benchmark program matches \"$name\"; there are:" >&2
  for b in build-bench/bench/bench_*; do
    if [ -f "$b" ] && [ -x "$b" ]; then echo "  $(basename "$b")" >&2; fi
  done
  exit 1
fi
