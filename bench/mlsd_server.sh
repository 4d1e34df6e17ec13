#!/bin/bash
# Serves the shared ftp-bench's folder with a server that lists with MLSD,
# for timing clients against it on the bench's emulated link: the project's
# test server (pyftpdlib) or ProFTPD (Debian's proftpd-core, fetched with
# apt-get download). Root is needed;
# run it after `ftp-bench setup --link rttN`, then point the bench at the port:
#
#   bench/mlsd_server.sh [pyftpdlib|proftpd]   # starts both servers, prints the port
#   FTP_BENCH_CLIENT_PORT=2121 ../shared/bench/ftp-bench run ... --link rtt20
#   bench/mlsd_server.sh stop
#
# One server answers in the bench's server namespace (the link); another on
# 127.0.0.1 serves the same folder, for the bench's untimed seeding, which
# goes through loopback. Both run as the bench user (uid 2000).
set -euo pipefail
kind=${1:-pyftpdlib}
port=${MLSD_BENCH_PORT:-2121}
top=/tmp/ftp-bench
srv=$top/srv
pids=$top/mlsd-server.pids
stop() {
    [[ -f $pids ]] || return 0
    local pid
    for pid in $(<"$pids"); do
        kill "$pid" 2>/dev/null || continue
        # Gone, listening port and all, before another server takes the port.
        for _ in {1..50}; do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    done
    rm -f "$pids"
}
stop
[[ $kind == stop ]] && exit
[[ -d $srv ]] || { echo "no $srv: run ftp-bench setup first" >&2; exit 1; }

serve_pyftpdlib() { # HOST PASSIVE-PORTS [NAMESPACE]
    local prefix=()
    [[ -n ${3:-} ]] && prefix=(ip netns exec "$3")
    # The bench user must be able to read the script it runs.
    local script=$top/ftp_server.py
    install -m 644 "$(dirname "$0")/../tests/support/ftp_server.py" "$script"
    "${prefix[@]}" setpriv --reuid=2000 --regid=2000 --clear-groups /usr/bin/python3 "$script" --root "$srv" \
        --host "$1" --port "$port" --user ftpbench --password benchpass --passive-ports "$2" \
        >/dev/null 2>&1 &
    echo $! >>"$pids"
}

# Debian's proftpd-core conflicts with the bench's vsftpd package: it is
# unpacked into a folder of its own instead of installed.
proftpd_binary() {
    local pkg=$top/proftpd-pkg
    if [[ ! -x $pkg/root/usr/sbin/proftpd ]]; then
        mkdir -p "$pkg"
        (cd "$pkg" && apt-get download -q proftpd-core >/dev/null && dpkg -x proftpd-core_*.deb root)
    fi
    echo "$pkg/root/usr/sbin/proftpd"
}

serve_proftpd() { # HOST PASSIVE-PORTS [NAMESPACE]
    local prefix=()
    [[ -n ${3:-} ]] && prefix=(ip netns exec "$3")
    local proftpd
    proftpd=$(proftpd_binary)
    local dir=$top/proftpd-$1
    mkdir -p "$dir"
    # Its own users file: the bench user is not in this machine's passwd.
    echo "ftpbench:$(openssl passwd -6 benchpass):2000:2000::$srv:/bin/sh" >"$dir/passwd"
    echo "ftpbench:x:2000:" >"$dir/group"
    chmod 600 "$dir/passwd" && chmod 644 "$dir/group"
    cat >"$dir/proftpd.conf" <<CONF
ServerName "bench"
ServerType standalone
DefaultServer on
DefaultAddress $1
SocketBindTight on
UseIPv6 off
Port $port
PassivePorts ${2%-*} ${2#*-}
User nobody
Group nogroup
PidFile $dir/proftpd.pid
ScoreboardFile $dir/scoreboard
DelayTable none
WtmpLog off
TransferLog none
SystemLog $dir/system.log
UseReverseDNS off
AuthOrder mod_auth_file.c
AuthUserFile $dir/passwd
AuthGroupFile $dir/group
RequireValidShell off
DefaultRoot ~
AllowOverwrite on
MaxInstances 200
TimeoutIdle 600
CONF
    "${prefix[@]}" "$proftpd" --nodaemon --config "$dir/proftpd.conf" >"$dir/stdout" 2>&1 &
    echo $! >>"$pids"
}

"serve_$kind" 10.200.0.2 23000-23400 fbench-srv
"serve_$kind" 127.0.0.1 23500-23900
echo "MLSD server ($kind) on port $port (10.200.0.2 on the link, 127.0.0.1 for seeding)"
