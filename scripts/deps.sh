#!/usr/bin/env bash
# Installs the Debian 12 packages Pennora needs to build, run and test, when
# any is missing. The one list of packages; run.sh and test.sh call this.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qcoro-qt6-dev libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)
# Node runs the protocol peers of the tests; a node already on the machine
# is kept.
command -v node >/dev/null 2>&1 || PACKAGES+=(nodejs)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
apt_install() {
  echo "Installing: $*"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"

# Some nodejs builds bring npm with them (and conflict with the npm package);
# Debian's own nodejs does not.
command -v npm >/dev/null 2>&1 || apt_install npm
