#!/usr/bin/env bash
# Installs what is missing, builds every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs them all through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
if [ -f tests/peers/package-lock.json ]; then
  (cd tests/peers && npm ci --no-audit --no-fund --silent)
fi
jobs=$(nproc)
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPENNORA_SANITIZE=ON -DPENNORA_TESTS=ON >/dev/null
cmake --build build-asan -j "$jobs"
# Leaks fail the run, in the test binaries and in the children they start
# (those inherit these variables); the suppressions name system libraries only.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 300
