#!/usr/bin/python3
"""Runs a command with its standard error on a pseudo-terminal.

    tty_stderr.py COMMAND [ARGUMENTS...]

The command's standard output passes through; what it wrote to the terminal
comes out on standard error, byte for byte; the exit status is the command's.
"""
import os
import pty
import subprocess
import sys


def main():
    master, slave = pty.openpty()
    child = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    seen = bytearray()
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # EIO: the last holder of the terminal has gone
            break
        if not chunk:
            break
        seen += chunk
    os.close(master)
    sys.stderr.buffer.write(bytes(seen))
    sys.stderr.flush()
    return child.wait()


if __name__ == "__main__":
    sys.exit(main())
