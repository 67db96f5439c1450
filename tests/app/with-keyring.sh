#!/bin/sh
# Runs a command with a keyring of its own: a private D-Bus session with GNOME Keyring unlocked
# in a throw-away home, so that the user's own keyring is never touched. OMBRIK_KEYRING=1 tells
# the command it has one. Without dbus-run-session or gnome-keyring-daemon the command runs alone.
if command -v dbus-run-session >/dev/null 2>&1 && command -v gnome-keyring-daemon >/dev/null 2>&1; then
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  HOME=$home XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home dbus-run-session -- sh -c '
    eval "$(printf "ombrik-test" | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null)"
    OMBRIK_KEYRING=1 "$@"
    status=$?
    exit $status' sh "$@"
  exit $?
fi
exec "$@"
