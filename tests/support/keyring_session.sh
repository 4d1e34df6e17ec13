#!/bin/sh
# Runs inside its own dbus-run-session: starts a Secret Service (the GNOME
# keyring daemon) below the fresh folder $1, unlocked with a known password,
# writes the bus address to $1/bus once the service owns its name, and lives
# as long as process $2 (the test) does, then removes $1. A process that
# talks to a session bus is ended by the bus closing under it, so the bus
# must outlive the test.
home=$1
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache"
export XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR" || exit 1
printf 'known-password' | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 1
tries=0
until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'; do
    tries=$((tries + 1))
    [ "$tries" -gt 100 ] && exit 1
    sleep 0.1
done
echo "$DBUS_SESSION_BUS_ADDRESS" >"$home/bus.new" && mv "$home/bus.new" "$home/bus"
while kill -0 "$2" 2>/dev/null; do sleep 1; done
rm -rf "$home"
