#!/usr/bin/python3
"""Seconds and FTP commands per file for vellisync-cli against the local test
server (pyftpdlib on 127.0.0.1), without root and without a network.

    bench/pool_bench.py [--build build] [--files 500] [--folders 20] [--connections 4] [--no-mlsd]

Runs an upload into an empty folder, a re-sync with nothing changed and a
download into an empty folder, and prints one line each. The commands are
counted from the server's own log, so they show what a change of the engine
costs on the wire; on loopback the seconds mostly show the client's own work.
Never run by the tests: timings belong here.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "tests", "support", "ftp_server.py")


def start_server(root, no_mlsd, log_path):
    args = ["/usr/bin/python3", SERVER, "--root", root, "--log-commands"]
    if no_mlsd:
        args.append("--no-mlsd")
    log = open(log_path, "w")
    server = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=log, text=True)
    line = server.stdout.readline()
    match = re.match(r"PORT (\d+)", line)
    if not match:
        server.kill()
        sys.exit("the test server did not start: " + line)
    return server, int(match.group(1))


def make_tree(root, files, folders):
    for i in range(files):
        folder = os.path.join(root, "d%02d" % (i % folders // 5), "e%03d" % (i % folders))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.bin" % i), "wb") as f:
            f.write(os.urandom(1024 + i % 4096))


def commands_since(log_path, offset):
    with open(log_path) as log:
        log.seek(offset)
        text = log.read()
        return text.count("COMMAND "), log.tell()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    p.add_argument("--files", type=int, default=500)
    p.add_argument("--folders", type=int, default=20)
    p.add_argument("--connections", type=int, default=4)
    p.add_argument("--no-mlsd", action="store_true", help="make the server list with LIST and STAT only")
    args = p.parse_args()
    cli = os.path.join(args.build, "src", "vellisync-cli")

    with tempfile.TemporaryDirectory(prefix="vellisync-bench-") as work:
        source, remote, copy, home = (os.path.join(work, n) for n in ("source", "remote", "copy", "home"))
        for folder in (source, remote, copy, home):
            os.makedirs(folder)
        make_tree(source, args.files, args.folders)
        log_path = os.path.join(work, "server.log")
        server, port = start_server(remote, args.no_mlsd, log_path)
        env = dict(os.environ, XDG_DATA_HOME=home)
        offset = 0
        try:
            for name, local, mode in (("upload into an empty folder", source, "upload"),
                                      ("re-sync, nothing changed", source, "upload"),
                                      ("download into an empty folder", copy, "download")):
                subprocess.run([cli, "create", "bench-" + mode, "--server", "127.0.0.1", "--port", str(port),
                                "--user", "tester", "--password-stdin", "--passive", "--remote", "/",
                                "--local", local, "--mode", mode, "--subfolders",
                                "--connections", str(args.connections)],
                               input="secret\n", text=True, env=env, check=True, stdout=subprocess.DEVNULL)
                _, offset = commands_since(log_path, offset)
                started = time.monotonic()
                result = subprocess.run([cli, "run", "bench-" + mode], env=env, stdout=subprocess.DEVNULL)
                seconds = time.monotonic() - started
                time.sleep(0.2)  # let the server write its last lines
                commands, offset = commands_since(log_path, offset)
                print("%-32s %7.2f s  %8.2f ms/file  %6.2f commands/file  exit %d"
                      % (name, seconds, 1000 * seconds / args.files, commands / args.files, result.returncode))
        finally:
            server.terminate()
            server.wait()


if __name__ == "__main__":
    main()
