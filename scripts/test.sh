#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds every test under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs them all through
# CTest with leak checks on. Arguments go to ctest (e.g. -R CardConcurrency).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test

# The node peers, installed again only when the lock file has changed since
# (npm writes node_modules/.package-lock.json last).
peers=tests/peers
if [ -f "$peers/package-lock.json" ] && { [ ! -f "$peers/node_modules/.package-lock.json" ] \
  || [ "$peers/package-lock.json" -nt "$peers/node_modules/.package-lock.json" ]; }; then
  (cd "$peers" && npm ci --no-audit --no-fund --silent)
fi

# Every C++ file as .clang-format (clang-format 14) has it.
format=$(command -v clang-format-14 || command -v clang-format) || {
  echo "test.sh: clang-format is missing (bash scripts/deps.sh test installs it)" >&2
  exit 1
}
version=$("$format" --version)
case "$version" in
*"version 14."*) ;;
*)
  echo "test.sh: the format check needs clang-format 14, found: $version" >&2
  exit 1
  ;;
esac
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t sources < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
else
  mapfile -t sources < <(find . \( -path './build*' -o -name node_modules -o -name '.*' ! -name . \) -prune \
    -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
fi
jobs=$(nproc)
mapfile -t unformatted < <(printf '%s\0' "${sources[@]}" | xargs -0 -r -n 1 -P "$jobs" sh -c \
  '[ ! -f "$1" ] || "$0" --dry-run --Werror "$1" >/dev/null 2>&1 || echo "$1"' "$format" | sort)
if [ ${#unformatted[@]} -ne 0 ]; then
  echo "test.sh: not formatted as .clang-format says:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "Fix with: $format -i$(printf ' %q' "${unformatted[@]}")" >&2
  exit 1
fi

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPENNORA_SANITIZE=ON -DPENNORA_TESTS=ON >/dev/null
cmake --build build-asan -j "$jobs"
# Leaks fail the run, in the test binaries and in the children they start
# (those inherit these variables); the suppressions name system libraries only.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
# Checks of the whole tree that are not unit tests (the include graph, for
# one) are CTest tests as well, added in tests/CMakeLists.txt: they run here.
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 300 "$@"
