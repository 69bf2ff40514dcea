#!/usr/bin/env bash
# Runs a test binary against a real Secret Service: gnome-keyring's daemon in
# a D-Bus session of its own, its login keyring created and unlocked in a
# throwaway home, so the writer's own keyring is never touched. Exits 77
# (skipped, with the reason) when that cannot be set up.
set -u

if [ "${1:-}" = --inside ]; then
  shift
  # The daemon forks into the background and takes the password from stdin.
  if ! printf 'test-only' | timeout 20 gnome-keyring-daemon --unlock --components=secrets >/dev/null; then
    echo "SKIPPED: gnome-keyring-daemon did not start"
    exit 77
  fi
  for _ in $(seq 50); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'; then
      PENNORA_THROWAWAY_KEYRING=1 exec "$@"
    fi
    sleep 0.2
  done
  echo "SKIPPED: no Secret Service appeared on the session bus"
  exit 77
fi

for tool in dbus-run-session dbus-send gnome-keyring-daemon; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is missing (bash scripts/deps.sh test installs it)"
    exit 77
  fi
done

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 0700 "$home/runtime"
# The bus and the daemon end with the session, when the test binary exits.
HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
  XDG_RUNTIME_DIR=$home/runtime dbus-run-session -- bash "$0" --inside "$@"
