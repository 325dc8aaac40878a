#!/usr/bin/env python3
"""Holds N TCP connections open to host:port until SIGTERM or SIGINT.

Usage: idle_connections.py PORT [COUNT] [silent|partial]
  silent   connect and send nothing
  partial  connect and send the start of a request line, never its end
Prints "open N" once all are connected, and "still-open N" when told to stop: connections
the server closed in the meantime (its request deadline) are counted out.
"""
import resource
import select
import signal
import socket
import sys


def main():
    port = int(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    mode = sys.argv[3] if len(sys.argv) > 3 else "silent"
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = count + 64
    if soft < want:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(want, hard), hard))
    socks = []
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port))
        if mode == "partial":
            s.sendall(b"GET /GetObj")
        socks.append(s)
    print("open", len(socks), flush=True)

    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    poller = select.poll()
    by_fd = {}
    for s in socks:
        poller.register(s, select.POLLIN | select.POLLHUP)
        by_fd[s.fileno()] = s
    closed = 0
    while not stop:
        try:
            events = poller.poll(500)
        except InterruptedError:
            continue
        for fd, _ in events:
            s = by_fd.pop(fd, None)
            if s is None:
                continue
            poller.unregister(fd)
            try:
                data = s.recv(4096)
            except OSError:
                data = b""
            if not data:
                closed += 1
                s.close()
            else:
                by_fd[fd] = s
                poller.register(s, select.POLLIN | select.POLLHUP)
    print("still-open", count - closed, flush=True)


if __name__ == "__main__":
    main()
