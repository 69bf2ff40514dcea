#!/usr/bin/env bash
# Installs the Debian 12 packages Pennora needs, when any is missing. The one
# list of packages, by what is to be done:
#
#   bash scripts/deps.sh app     build and run the application (run.sh)
#   bash scripts/deps.sh test    that, and build and run the tests (test.sh)
#   bash scripts/deps.sh bench   that of app, and the benchmarks (bench.sh)
set -euo pipefail

APP=(cmake ninja-build g++ pkg-config qt6-base-dev qcoro-qt6-dev libicu-dev)
# The views' serif and mono typefaces.
APP+=(fonts-sil-charis fonts-jetbrains-mono)
# The bundled Markdown renderer (md4c's HTML library; its pkg-config file
# needs md4c's own).
APP+=(libmd4c-html0-dev libmd4c-dev)
# The prose editor's spell checking and its English dictionary.
APP+=(libhunspell-dev hunspell-en-us)
# The blog app token in the desktop's secret store (QtKeychain over the
# Secret Service, which it reaches through libsecret).
APP+=(qtkeychain-qt6-dev libsecret-1-0)
# The reading view's web surface (QtWebEngine with QWebChannel).
APP+=(qt6-webengine-dev)
# The sanitizer runtimes (libasan8, LeakSanitizer within it) come with g++.
TEST=(libgtest-dev libgmock-dev clang-format)
# A real Secret Service for the keyring test, in a D-Bus session of its own
# (dbus-daemon brings dbus-run-session).
TEST+=(gnome-keyring dbus-daemon)
# The mentor benchmark runs on the tests' in-memory engine, which uses gtest.
BENCH=(libbenchmark-dev libgtest-dev)

mode=${1:-app}
case "$mode" in
app) packages=("${APP[@]}") ;;
test) packages=("${APP[@]}" "${TEST[@]}") ;;
bench) packages=("${APP[@]}" "${BENCH[@]}") ;;
*)
  echo "usage: bash scripts/deps.sh app|test|bench" >&2
  exit 2
  ;;
esac
# Node runs the protocol peers of the tests; Debian 12's Node 18 does, and a
# node already on the machine is kept.
if [ "$mode" = test ] && ! command -v node >/dev/null 2>&1; then
  packages+=(nodejs)
fi

# Waits for another package manager's lock instead of failing at once.
APT=(apt-get -o DPkg::Lock::Timeout=300)
apt_install() {
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "deps.sh: missing packages: $*" >&2
      echo "deps.sh: not root and no sudo to install them; as root, run:" >&2
      echo "  apt-get update && apt-get install --no-install-recommends $*" >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  echo "Installing: $*"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "${APT[@]}" update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "${APT[@]}" install -y -q --no-install-recommends "$@"
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"

# Some nodejs builds bring npm with them (and conflict with the npm package);
# Debian's own nodejs does not.
if [ "$mode" = test ] && ! command -v npm >/dev/null 2>&1; then
  apt_install npm
fi
