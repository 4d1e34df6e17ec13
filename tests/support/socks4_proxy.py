#!/usr/bin/python3
"""A SOCKS4 proxy (CONNECT and BIND, no 4a) for the tests, on a loopback address.

Prints "PORT <n>" on standard output once it listens. Like many old proxies it
closes the connection on a SOCKS5 greeting, so a client has to fall back to
version 4. Only loopback destinations are served.
"""
import argparse
import ipaddress
import socket
import struct
import sys
import threading


def relay(a, b):
    def pump(src, dst):
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                dst.sendall(data)
        except OSError:
            pass
        finally:
            for s in (dst,):
                try:
                    s.shutdown(socket.SHUT_WR)
                except OSError:
                    pass

    t = threading.Thread(target=pump, args=(b, a), daemon=True)
    t.start()
    pump(a, b)
    t.join()
    a.close()
    b.close()


def recv_exactly(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise OSError("closed")
        data += chunk
    return data


def reply(sock, code, port=0, address="0.0.0.0"):
    sock.sendall(struct.pack(">BBH", 0, code, port) + socket.inet_aton(address))


def serve(client, listen_host):
    try:
        version = recv_exactly(client, 1)
        if version != b"\x04":
            client.close()  # not version 4: hang up, as a version-4 proxy does
            return
        head = version + recv_exactly(client, 7)
        command, port = head[1], struct.unpack(">H", head[2:4])[0]
        address = socket.inet_ntoa(head[4:8])
        while recv_exactly(client, 1) != b"\0":  # user id
            pass
        if not ipaddress.ip_address(address).is_loopback:
            reply(client, 91)
            client.close()
            return
        if command == 1:
            upstream = socket.create_connection((address, port), timeout=10)
            upstream.settimeout(None)
            reply(client, 90, port, address)
            relay(client, upstream)
        elif command == 2:
            listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            listener.bind((listen_host, 0))
            listener.listen(1)
            reply(client, 90, listener.getsockname()[1], "0.0.0.0")
            listener.settimeout(30)
            incoming, peer = listener.accept()
            listener.close()
            reply(client, 90, peer[1], peer[0])
            relay(client, incoming)
        else:
            reply(client, 91)
            client.close()
    except OSError:
        client.close()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    args = p.parse_args()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((args.host, args.port))
    server.listen(16)
    sys.stdout.write("PORT %d\n" % server.getsockname()[1])
    sys.stdout.flush()
    while True:
        client, _ = server.accept()
        threading.Thread(target=serve, args=(client, args.host), daemon=True).start()


if __name__ == "__main__":
    main()
