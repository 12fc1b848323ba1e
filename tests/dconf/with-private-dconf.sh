#!/usr/bin/env bash
# Runs a program against a dconf of its own: a session bus of its own
# (dbus-run-session, which starts dconf's service on demand) and fresh
# configuration and runtime folders, removed afterwards.
#   with-private-dconf.sh <program> [argument]...
set -euo pipefail
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
mkdir -p "$folder/config" "$folder/run"
chmod 700 "$folder/run"
export XDG_CONFIG_HOME="$folder/config" XDG_RUNTIME_DIR="$folder/run" GSETTINGS_BACKEND=dconf RAVOLET_PRIVATE_DCONF=1
unset DBUS_SESSION_BUS_ADDRESS
exec dbus-run-session -- "$@"
