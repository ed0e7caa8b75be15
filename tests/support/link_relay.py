"""A TCP relay on loopback that behaves like a slower, longer link: each direction is paced to RATE
bits per second and delayed by half the round trip. One fault may be injected on the way to the
client, once its byte count (over all connections) passes AT: a reset (the client's connection
closed with RST) or a stall (nothing more on that connection until the client gives up).
TCP's slow start is not modelled: the pacing is that of a link already at full speed.

Usage: link_relay.py TARGET_PORT PORTFILE [--rate BITS] [--rtt MS] [--reset AT | --stall AT] [--log FILE]
The chosen port is written to PORTFILE once listening; with --log, each accepted connection adds
a line to FILE.
"""
import argparse
import collections
import os
import select
import socket
import struct
import threading
import time

parser = argparse.ArgumentParser()
parser.add_argument("target", type=int)
parser.add_argument("portfile")
parser.add_argument("--rate", type=float, default=0)
parser.add_argument("--rtt", type=float, default=0)
parser.add_argument("--reset", type=int)
parser.add_argument("--stall", type=int)
parser.add_argument("--log")
options = parser.parse_args()

CHUNK = 16384
lock = threading.Lock()
to_client = [0]
fault_done = [False]


def pump(source, sink, client_bound, client, dead):
    """Reads from source, delivers to sink after the delay, at the link's rate."""
    queue = collections.deque()
    ready = threading.Condition()
    finished = [False]

    def deliver():
        free_at = 0.0
        while True:
            with ready:
                while not queue and not finished[0]:
                    ready.wait()
                if not queue:
                    break
                due, data = queue.popleft()
            start = max(due, free_at)
            if options.rate > 0:
                free_at = start + len(data) * 8 / options.rate
                wait = free_at - time.monotonic()
            else:
                free_at = start
                wait = start - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            try:
                sink.sendall(data)
            except OSError:
                break
        try:
            sink.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    sender = threading.Thread(target=deliver, daemon=True)
    sender.start()
    while True:
        # Waits in select, not recv: the reset below must close the client's socket while no
        # other thread is inside a call on it, or Linux would keep it open and send no RST.
        if dead.is_set():
            return
        if not select.select([source], [], [], 0.1)[0]:
            continue
        try:
            data = source.recv(CHUNK)
        except OSError:
            data = b""
        if not data:
            break
        if client_bound and (options.reset is not None or options.stall is not None):
            with lock:
                before = to_client[0]
                to_client[0] += len(data)
                at = options.reset if options.reset is not None else options.stall
                strike = not fault_done[0] and to_client[0] > at
                if strike:
                    fault_done[0] = True
            if strike:
                keep = max(0, at - before)
                with ready:
                    queue.append((time.monotonic() + options.rtt / 2000, data[:keep]))
                    ready.notify()
                time.sleep(options.rtt / 2000 + 0.5)
                if options.reset is not None:
                    dead.set()
                    time.sleep(0.3)
                    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    client.close()
                    source.close()
                    return
                while True:  # the stall: the link stays open and silent
                    time.sleep(60)
        with ready:
            queue.append((time.monotonic() + options.rtt / 2000, data))
            ready.notify()
    with ready:
        finished[0] = True
        ready.notify()
    sender.join()


def serve(client):
    try:
        server = socket.create_connection(("127.0.0.1", options.target))
    except OSError:
        client.close()
        return
    for s in (client, server):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    dead = threading.Event()
    threading.Thread(target=pump, args=(client, server, False, client, dead), daemon=True).start()
    threading.Thread(target=pump, args=(server, client, True, client, dead), daemon=True).start()


listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(16)
with open(options.portfile + ".new", "w") as port_file:
    port_file.write(str(listener.getsockname()[1]))
os.rename(options.portfile + ".new", options.portfile)
while True:
    connection, _ = listener.accept()
    if options.log:
        with open(options.log, "a") as log:
            log.write("connection\n")
    serve(connection)
