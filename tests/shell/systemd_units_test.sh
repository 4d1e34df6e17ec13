#!/usr/bin/env bash
# The systemd user units load as systemd reads them, for an instance with a
# blank in it. Skipped (77) where systemd-analyze or systemd-escape is missing.
#   systemd_units_test.sh SOURCE_DIST_DIR MANUAL CLI_DIR
set -uo pipefail
command -v systemd-analyze >/dev/null && command -v systemd-escape >/dev/null || exit 77
dist=$1 manual=$2 bindir=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed "s|@bindir@|$bindir|" "$dist/vellisync@.service.in" >"$work/vellisync@.service"
cp "$dist/vellisync@.timer" "$work/"
instance=$(systemd-escape 'Nightly mirror')
ln -s vellisync@.service "$work/vellisync@$instance.service"
ln -s vellisync@.timer "$work/vellisync@$instance.timer"
# The units' Documentation= names the manual page, which verify looks up.
mkdir -p "$work/man/man1"
cp "$manual" "$work/man/man1/"
# verify exits with 0 over a key it ignores, so any word from it is a fault.
cd "$work" || exit 1
output=$(MANPATH="$work/man" systemd-analyze verify "./vellisync@$instance.service" "./vellisync@$instance.timer" 2>&1)
status=$?
[[ $status -eq 0 && -z $output ]] || { echo "FAIL: systemd-analyze verify ($status): $output"; exit 1; }
echo "systemd units: verified"
