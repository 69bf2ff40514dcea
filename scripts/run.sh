#!/usr/bin/env bash
# Installs what is missing, builds Pennora and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh app
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENNORA_TESTS=OFF >/dev/null
cmake --build build
exec build/src/pennora "$@"
