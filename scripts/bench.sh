#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them (not part of the test run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENNORA_TESTS=OFF -DPENNORA_BENCH=ON >/dev/null
cmake --build build-bench
for b in build-bench/bench/bench_*; do
  [ -x "$b" ] && "$b" "$@"
done
