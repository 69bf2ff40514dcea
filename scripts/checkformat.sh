#!/usr/bin/env bash
# Checks that every C++ file is formatted as .clang-format (clang-format 14)
# has it. Run by CTest (the test "FormatCheck"): without clang-format 14 the
# check is skipped (exit 77) so such a machine still builds and runs every
# other test; with CI=true a missing or other clang-format fails instead.
set -euo pipefail
cd "$(dirname "$0")/.."

skip=77
unusable() {
  echo "checkformat.sh: $1" >&2
  if [ "${CI:-}" = true ]; then
    exit 1
  fi
  echo "checkformat.sh: skipped (bash scripts/deps.sh test installs clang-format 14)" >&2
  exit "$skip"
}

format=$(command -v clang-format-14 || command -v clang-format) || unusable "clang-format is missing"
version=$("$format" --version)
case "$version" in
*"version 14."*) ;;
*) unusable "the format check needs clang-format 14, found: $version" ;;
esac

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t sources < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
else
  mapfile -t sources < <(find . \( -path './build*' -o -name node_modules -o -name '.*' ! -name . \) -prune \
    -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
fi
mapfile -t unformatted < <(printf '%s\0' "${sources[@]}" | xargs -0 -r -n 1 -P "$(nproc)" sh -c \
  '[ ! -f "$1" ] || "$0" --dry-run --Werror "$1" >/dev/null 2>&1 || echo "$1"' "$format" | sort)
if [ ${#unformatted[@]} -ne 0 ]; then
  echo "checkformat.sh: not formatted as .clang-format says:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "Fix with: $format -i$(printf ' %q' "${unformatted[@]}")" >&2
  exit 1
fi
echo "checkformat.sh: ${#sources[@]} files formatted as .clang-format says"
