#!/usr/bin/python3
"""A real FTP server for the tests: pyftpdlib on a loopback address.

Prints "PORT <n>" on standard output once it listens, then serves until it is
terminated. Faults come from options, so a test asks for exactly the server
behaviour it needs.
"""
import argparse
import errno
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True, help="folder served to every user")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--user", default="tester")
    p.add_argument("--password", default="secret")
    p.add_argument("--anonymous", action="store_true", help="allow anonymous logon (read and write)")
    p.add_argument("--no-mlsd", action="store_true", help="refuse MLSD/MLST and leave them out of FEAT")
    p.add_argument("--no-epsv", action="store_true", help="refuse EPSV and EPRT")
    p.add_argument("--deny-cwd", action="append", default=[],
                   help="folder name (last component) that CWD refuses with 550")
    p.add_argument("--read-only-dir", action="append", default=[],
                   help="folder name (last component) in which STOR, MKD, DELE and RNTO are refused")
    p.add_argument("--stall", action="append", default=[],
                   help="COMMAND:N - ignore the first N occurrences of COMMAND (no reply at all)")
    p.add_argument("--delay", action="append", default=[],
                   help="COMMAND:SECONDS[:N] - handle the first N occurrences (1) of COMMAND only after "
                        "SECONDS (a reply that comes late)")
    p.add_argument("--refuse-rename-over", action="store_true",
                   help="RNTO onto an existing file fails with 550, as on servers running on Windows")
    p.add_argument("--refuse-rename", action="store_true",
                   help="every RNTO fails with 553 (a name rule), while DELE still works")
    p.add_argument("--refuse-rename-to", action="append", default=[],
                   help="file name (last component) that RNTO refuses with 553, as a server with a name rule "
                        "does; the file can still be stored and deleted under it")
    p.add_argument("--refuse-dot-names", action="store_true",
                   help="STOR and RNTO of a name starting with a dot fail with 553, as on Pure-FTPd with -x")
    p.add_argument("--cut-retr-after", type=int, default=-1,
                   help="end the data of every RETR after this many bytes and still report success")
    p.add_argument("--cut-stor-to", type=int, default=-1,
                   help="keep only this many bytes of every stored file and still report success")
    p.add_argument("--silent-from", default="",
                   help="COMMAND[:N] - from the Nth occurrence of COMMAND on, answer no command at all, on "
                        "this connection or any later one (a server that stops answering)")
    p.add_argument("--max-connections", type=int, default=64,
                   help="logons beyond this many at once are refused with 421 (the listening socket "
                        "counts as one)")
    p.add_argument("--max-connections-per-ip", type=int, default=0,
                   help="control connections from one address beyond this many at once are refused with 421")
    p.add_argument("--drop-on", default="",
                   help="COMMAND:N - close the control connection instead of answering the Nth COMMAND")
    p.add_argument("--exit-on", default="",
                   help="COMMAND[:N] - at the Nth occurrence of COMMAND the whole server ends at once, its "
                        "listener with it (a server that dies in the middle of a run)")
    p.add_argument("--refuse-data", action="append", default=[],
                   help="COMMAND:N - answer the first N occurrences of COMMAND with 425, as a server or proxy "
                        "out of data ports does")
    p.add_argument("--abort-on-early-command", action="store_true",
                   help="a command that arrives while a transfer is in progress ends the transfer with 426, "
                        "as some servers do")
    p.add_argument("--late-transfer-end", action="store_true",
                   help="send a transfer's final reply a while after its data connection closed, answering "
                        "commands that arrive meanwhile first, as servers that end transfers on a thread of "
                        "their own may")
    p.add_argument("--log-commands", action="store_true",
                   help="write every command received on standard error, one line each")
    p.add_argument("--abort-retr-after", type=int, default=-1,
                   help="close the data connection of every RETR after this many bytes")
    p.add_argument("--passive-ports", default="", help="LOW-HIGH range of passive ports")
    p.add_argument("--list-name", action="append", default=[],
                   help="a file name that every listing shows as well, as the listing line of a "
                        "hostile server would (\"../x\", \"a/../../x\")")
    p.add_argument("--list-line", action="append", default=[],
                   help="a raw line that every listing holds as well")
    p.add_argument("--list-zone", default="",
                   help="TZ string of the zone LIST and STAT times are shown in (MLSD and MDTM stay UTC)")
    p.add_argument("--list-dot", action="store_true",
                   help="LIST and STAT listings start with the folder's own \".\" entry, and STAT takes \"-a\" "
                        "before a path, as vsftpd's do")
    p.add_argument("--unlistable", action="append", default=[],
                   help="folder name (last component) that can be entered but not listed, as a folder of mode "
                        "111 on vsftpd: its listings are empty (no \".\" either) and a LIST or MLSD of it ends "
                        "\"226 Transfer done (but failed to open directory).\"")
    p.add_argument("--unreadable", action="append", default=[],
                   help="folder name (last component) that can be entered but not read, as a folder of mode 111 "
                        "is to pyftpdlib run by a user other than root: STAT and MLSD of it answer "
                        "\"550 Permission denied.\"")
    p.add_argument("--empty-stat", action="append", default=[],
                   help="folder name (last component) whose STAT listing is empty whatever it holds")
    p.add_argument("--no-mfmt", action="store_true", help="refuse MFMT: no way to set a file's time")
    p.add_argument("--tls-cert", default="",
                   help="PEM file with certificate and key: offer AUTH TLS, PBSZ and PROT")
    p.add_argument("--tls-required", action="store_true",
                   help="with --tls-cert: refuse USER/PASS before AUTH TLS and transfers before PROT P")
    p.add_argument("--tls-implicit", action="store_true",
                   help="with --tls-cert: TLS from the first byte, before the greeting")
    p.add_argument("--tls-inject-after-auth", default="",
                   help="with --tls-cert: a reply line sent in clear text right after the 234 to AUTH TLS, as "
                        "a man in the middle would slip one in")
    p.add_argument("--tls-keep-data-open", action="store_true",
                   help="with --tls-cert: after close_notify keep a data connection open until the client "
                        "closes it, as Pure-FTPd does")
    return p.parse_args()


# "COMMAND[:N]" as ("COMMAND", N), N being 1 when not given.
def command_and_count(option):
    command, _, count = option.partition(":")
    return command.upper(), int(count or "1")


# The state of a fault that strikes at the Nth COMMAND (none for an empty option).
def countdown(option):
    command, left = command_and_count(option) if option else ("", 0)
    return {"command": command, "left": left}


def make_handler(args):
    stalls = dict(command_and_count(option) for option in args.stall)
    silence = dict(countdown(args.silent_from), on=False)
    drop = countdown(args.drop_on)
    exit_on = countdown(args.exit_on)
    refusals = dict(command_and_count(option) for option in args.refuse_data)
    delays = {}
    for option in args.delay:
        command, _, rest = option.partition(":")
        seconds, _, count = rest.partition(":")
        delays[command.upper()] = [float(seconds or "1"), int(count or "1")]

    base = FTPHandler
    if args.tls_cert:
        from pyftpdlib.handlers import TLS_FTPHandler

        base = TLS_FTPHandler

    class TestHandler(base):
        banner = "Vellisync test server ready."
        use_gmt_times = True
        permit_foreign_addresses = False

        def _leaf(self, path):
            return os.path.basename(os.path.normpath(path))

        def pre_process_command(self, line, cmd, arg):
            if cmd == silence["command"] and not silence["on"]:
                silence["left"] -= 1
                silence["on"] = silence["left"] <= 0
            if silence["on"]:
                return  # nothing is answered any more
            if cmd == "STAT" and args.list_dot and (arg == "-a" or arg.startswith("-a ")):
                arg = arg[3:] or "."  # vsftpd takes ls options ahead of the path
            if args.log_commands:
                # On a TLS server each line tells how the command came.
                transport = ""
                if args.tls_cert:
                    transport = " [tls]" if self._ssl_established else " [clear]"
                sys.stderr.write("COMMAND %s %s%s\n" % (cmd, arg if cmd != "PASS" else "****", transport))
                sys.stderr.flush()
            if cmd == exit_on["command"] and exit_on["left"] > 0:
                exit_on["left"] -= 1
                if exit_on["left"] == 0:
                    os._exit(0)  # every socket closes with the process
            transferring = self.data_channel is not None and self.data_channel.cmd is not None
            if args.abort_on_early_command and transferring and cmd not in ("ABOR", "STAT", "QUIT", "NOOP"):
                self.data_channel.close()
                self.data_channel = None
                self.respond("426 Transfer aborted by an early command.")
            if refusals.get(cmd, 0) > 0:
                refusals[cmd] -= 1
                self.respond("425 Can't open data connection.")
                return
            if cmd == drop["command"] and drop["left"] > 0:
                drop["left"] -= 1
                if drop["left"] == 0:
                    self.close()  # the connection drops in the middle of the run
                    return
            remaining = stalls.get(cmd, 0)
            if remaining > 0:
                stalls[cmd] = remaining - 1
                return  # swallow the command: the client sees no reply
            delay = None
            if cmd in delays:
                delay, left = delays[cmd]
                if left <= 1:
                    del delays[cmd]
                else:
                    delays[cmd][1] = left - 1
            if delay is not None:
                def late():
                    if self.connected:
                        base.pre_process_command(self, line, cmd, arg)
                self.ioloop.call_later(delay, late)
                return
            return base.pre_process_command(self, line, cmd, arg)

        def ftp_LIST(self, path):
            self.listing_failed = self._leaf(path) in args.unlistable
            return base.ftp_LIST(self, path)

        def ftp_NLST(self, path):
            self.listing_failed = self._leaf(path) in args.unlistable
            return base.ftp_NLST(self, path)

        def ftp_MLSD(self, path):
            self.listing_failed = self._leaf(path) in args.unlistable
            return base.ftp_MLSD(self, path)

        def ftp_STAT(self, path):
            if path and self._leaf(path) in args.empty_stat:
                self.push('213-Status of "%s":\r\n' % self.fs.fs2ftp(path))
                self.respond("213 End of status.")
                return
            return base.ftp_STAT(self, path)

        def ftp_CWD(self, path):
            if self._leaf(path) in args.deny_cwd:
                self.respond("550 Permission denied.")
                return
            return base.ftp_CWD(self, path)

        def _refused_here(self, path):
            return self._leaf(os.path.dirname(os.path.normpath(path))) in args.read_only_dir

        def _prohibited_dot_name(self, path):
            return args.refuse_dot_names and self._leaf(path).startswith(".")

        def ftp_STOR(self, file, mode="w"):
            if self._refused_here(file):
                self.respond("553 Can't open that file: Permission denied")
                return
            if self._prohibited_dot_name(file):
                self.respond("553 Prohibited file name: %s" % self.fs.fs2ftp(file))
                return
            return base.ftp_STOR(self, file, mode)

        def on_file_received(self, file):
            if args.cut_stor_to >= 0:
                with open(file, "r+b") as stored:
                    stored.truncate(args.cut_stor_to)

        def ftp_MKD(self, path):
            if self._refused_here(path):
                self.respond("550 Can't create directory: Permission denied")
                return
            return base.ftp_MKD(self, path)

        def ftp_DELE(self, path):
            if self._refused_here(path):
                self.respond("550 Permission denied.")
                return
            return base.ftp_DELE(self, path)

        def ftp_RNTO(self, path):
            if self._refused_here(path):
                self.respond("550 Permission denied.")
                return
            if args.refuse_rename or self._prohibited_dot_name(path):
                self.respond("553 Requested action not taken. File name not allowed.")
                return
            if self._leaf(path) in args.refuse_rename_to:
                self.respond("553 Name not allowed.")
                return
            if args.refuse_rename_over and os.path.exists(path):
                self.respond("550 Cannot create a file when that file already exists.")
                return
            return base.ftp_RNTO(self, path)

        def ftp_AUTH(self, line):
            if not args.tls_inject_after_auth:
                return base.ftp_AUTH(self, line)
            # Straight onto the socket: both lines must leave before TLS starts.
            self.socket.sendall(("234 AUTH TLS successful.\r\n%s\r\n" % args.tls_inject_after_auth).encode("utf8"))
            self.secure_connection(self.ssl_context)

        def handle(self):
            if args.tls_implicit:
                # The handshake comes before the greeting, which waits for it.
                self.secure_connection(self.ssl_context)
            return base.handle(self)

    if args.tls_cert:
        TestHandler.certfile = args.tls_cert
        TestHandler.tls_control_required = args.tls_required
        TestHandler.tls_data_required = args.tls_required
    if args.no_mlsd:
        proto = dict(TestHandler.proto_cmds)
        proto.pop("MLSD", None)
        proto.pop("MLST", None)
        TestHandler.proto_cmds = proto
    if args.no_mfmt:
        proto = dict(TestHandler.proto_cmds)
        proto.pop("MFMT", None)
        TestHandler.proto_cmds = proto
    if args.no_epsv:
        proto = dict(TestHandler.proto_cmds)
        proto.pop("EPSV", None)
        proto.pop("EPRT", None)
        TestHandler.proto_cmds = proto

    if args.abort_retr_after >= 0:
        from pyftpdlib.handlers import DTPHandler

        limit = args.abort_retr_after

        class AbortingDTPHandler(DTPHandler):
            def __init__(self, sock, cmd_channel):
                DTPHandler.__init__(self, sock, cmd_channel)
                self._sent = 0

            def send(self, data):
                if not self.receive and self._sent + len(data) > limit:
                    part = data[: max(0, limit - self._sent)]
                    if part:
                        DTPHandler.send(self, part)
                        self._sent += len(part)
                    # Leave before the whole file has gone: the client sees the
                    # data connection close early and a 426 reply.
                    self.cmd_channel.respond("426 Connection closed; transfer aborted.")
                    self.transfer_finished = False
                    self._resp = None
                    DTPHandler.close(self)
                    return 0
                sent = DTPHandler.send(self, data)
                self._sent += sent
                return sent

        TestHandler.dtp_handler = AbortingDTPHandler
        # With sendfile() the file goes out without passing send() above.
        TestHandler.use_sendfile = False

    if args.cut_retr_after >= 0:
        from pyftpdlib.filesystems import AbstractedFS as _FS

        class CuttingFS(TestHandler.abstracted_fs):
            def open(self, filename, mode):
                opened = _FS.open(self, filename, mode)
                if "r" not in mode:
                    return opened
                # A file that ends early: RETR sends what there is and reports
                # success, as a server or proxy that cuts a transfer short may.
                import io

                data = opened.read(args.cut_retr_after)
                opened.close()
                cut = io.BytesIO(data)
                cut.name = filename
                return cut

        TestHandler.abstracted_fs = CuttingFS
        TestHandler.use_sendfile = False

    if args.tls_cert and args.tls_keep_data_open:
        TestHandler.dtp_handler = make_lingering_dtp_handler()

    if args.list_name or args.list_line or args.list_zone or args.list_dot or args.unlistable or args.unreadable:
        TestHandler.abstracted_fs = make_listing_fs(args)

    if args.unlistable:
        TestHandler.dtp_handler = make_failed_listing_dtp_handler(TestHandler.dtp_handler)

    if args.late_transfer_end:
        TestHandler.dtp_handler = make_late_ending_dtp_handler(TestHandler.dtp_handler)

    return TestHandler


def make_lingering_dtp_handler():
    from pyftpdlib.handlers import TLS_DTPHandler

    class LingeringDTPHandler(TLS_DTPHandler):
        """Sends close_notify at the end of a transfer, then waits for the
        client to close the TCP connection before it closes its own end and
        reports the transfer complete. The wait blocks the server: nothing
        else is due from a client that is finishing a transfer."""

        def handle_ssl_shutdown(self):
            import select

            fd = self.socket.fileno()
            while True:
                # Longer than any data time-out of the client under test.
                readable, _, _ = select.select([fd], [], [], 300)
                try:
                    data = os.read(fd, 4096) if readable else b""
                except OSError:
                    data = b""
                if not data:
                    break
            TLS_DTPHandler.handle_ssl_shutdown(self)

    return LingeringDTPHandler


def make_late_ending_dtp_handler(dtp_base):
    class LateEndingDTPHandler(dtp_base):
        """Closes the data connection at once, but sends the 226 (or 426)
        only later: a command that comes meanwhile is answered first."""

        def close(self):
            late = None if self._closed else self._resp
            self._resp = None
            channel = self.cmd_channel
            dtp_base.close(self)
            if late:
                channel.ioloop.call_later(0.3, lambda: channel.connected and channel.respond(late[0], logfun=late[1]))

    return LateEndingDTPHandler


def make_failed_listing_dtp_handler(dtp_base):
    class FailedListingDTPHandler(dtp_base):
        """Ends the listing of an unlistable folder as vsftpd does: a 226
        that says the folder could not be opened."""

        def close(self):
            channel = self.cmd_channel
            if not self._closed and getattr(channel, "listing_failed", False):
                channel.listing_failed = False
                if self._resp and self._resp[0].startswith("226"):
                    self._resp = ("226 Transfer done (but failed to open directory).", self._resp[1])
            dtp_base.close(self)

    return FailedListingDTPHandler


def make_listing_fs(args):
    """Listings that also show what a hostile or broken server would send
    (names that climb out of the folder, unreadable lines), and LIST times in
    a zone of their own."""
    if args.list_zone:
        os.environ["TZ"] = args.list_zone
        time.tzset()

    def unlistable(path):
        return os.path.basename(os.path.normpath(path)) in args.unlistable

    class ListingFS(AbstractedFS):
        def listdir(self, path):
            if os.path.basename(os.path.normpath(path)) in args.unreadable:
                raise PermissionError(errno.EACCES, "Permission denied")
            if unlistable(path):
                return []  # vsftpd cannot open it, and lists nothing
            return AbstractedFS.listdir(self, path)

        def _extra(self, mlsd):
            for name in args.list_name:
                if mlsd:
                    line = "type=file;size=5;modify=20260101000000; %s" % name
                else:
                    line = "-rw-r--r--   1 owner    group           5 Jan 01  2026 %s" % name
                yield (line + "\r\n").encode("utf8")
            for line in args.list_line:
                yield (line + "\r\n").encode("utf8")

        def format_list(self, basedir, listing, ignore_err=True):
            if args.list_dot and not unlistable(basedir):
                listing = ["."] + list(listing)
            lines = AbstractedFS.format_list(self, basedir, listing, ignore_err)
            if args.list_zone:
                # The listing picks its time function as it starts.
                channel = self.cmd_channel
                channel.use_gmt_times = False
                try:
                    first = next(lines, None)
                finally:
                    channel.use_gmt_times = True
                if first is not None:
                    yield first
            yield from lines
            yield from self._extra(False)

        def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
            yield from AbstractedFS.format_mlsx(self, basedir, listing, perms, facts, ignore_err)
            yield from self._extra(True)

    return ListingFS


def main():
    args = parse_args()
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if args.anonymous:
        authorizer.add_anonymous(args.root, perm="elradfmwMT")
    handler = make_handler(args)
    handler.authorizer = authorizer
    if args.passive_ports:
        low, high = args.passive_ports.split("-")
        handler.passive_ports = range(int(low), int(high) + 1)
    server = FTPServer((args.host, args.port), handler)
    server.max_cons = args.max_connections
    server.max_cons_per_ip = args.max_connections_per_ip
    port = server.socket.getsockname()[1]
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    # pyftpdlib logs every command on stderr; keep it for failing tests only.
    import logging
    logging.basicConfig(level=logging.WARNING)
    main()
