#!/bin/bash
# Serves the shared ftp-bench's folder with the project's test server
# (pyftpdlib, which lists with MLSD), for timing clients against a server
# that lists with MLSD on the bench's emulated link. Root is needed; run it
# after `ftp-bench setup --link rttN`, then point the bench at the port:
#
#   bench/mlsd_server.sh            # starts both servers, prints the port
#   FTP_BENCH_CLIENT_PORT=2121 ../shared/bench/ftp-bench run ... --link rtt20
#   bench/mlsd_server.sh stop
#
# One server answers in the bench's server namespace (the link); another on
# 127.0.0.1 serves the same folder, for the bench's untimed seeding, which
# goes through loopback.
set -euo pipefail
port=${MLSD_BENCH_PORT:-2121}
srv=/tmp/ftp-bench/srv
pids=/tmp/ftp-bench/mlsd-server.pids
if [[ ${1:-} == stop ]]; then
    [[ -f $pids ]] && xargs -r kill <"$pids" 2>/dev/null || true
    rm -f "$pids"
    exit
fi
[[ -d $srv ]] || { echo "no $srv: run ftp-bench setup first" >&2; exit 1; }
# The bench user (uid 2000) must be able to read the script it runs.
script=/tmp/ftp-bench/ftp_server.py
install -m 644 "$(dirname "$0")/../tests/support/ftp_server.py" "$script"
serve() { # HOST PASSIVE-PORTS [NAMESPACE]
    local prefix=()
    [[ -n ${3:-} ]] && prefix=(ip netns exec "$3")
    "${prefix[@]}" setpriv --reuid=2000 --regid=2000 --clear-groups /usr/bin/python3 "$script" --root "$srv" \
        --host "$1" --port "$port" --user ftpbench --password benchpass --passive-ports "$2" \
        >/dev/null 2>&1 &
    echo $! >>"$pids"
}
serve 10.200.0.2 23000-23400 fbench-srv
serve 127.0.0.1 23500-23900
echo "MLSD test server on port $port (10.200.0.2 on the link, 127.0.0.1 for seeding)"
