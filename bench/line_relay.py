#!/usr/bin/env python3
"""An emulated player's line for the benchmark: a TCP relay on 127.0.0.1 in
front of a server on 127.0.0.1. The kernel here has no netem, so the relay
itself adds what a distant player sees:
  - one round trip before a connection's first byte (the TCP handshake),
  - half a round trip to every byte, each way,
  - one downstream rate shared by all connections (a token bucket that every
    connection's chunks take their turn at, as packets at a bottleneck do).
It stops by itself after --lifetime seconds. One line per closed connection
goes to --log: accept time, last byte delivered to the client, bytes down
(times in seconds since the epoch), so a client's transfer can be timed on
the client's side of the line.
  line_relay.py --upstream PORT --port-file FILE [--profile 30|100 | --rtt-ms MS --rate-mbit MBIT]
                [--lifetime S] [--log FILE]
"""
import argparse
import asyncio
import collections
import os
import time

CHUNK = 16 * 1024  # about 1.3 ms of a 100 Mbit/s line: fine enough for fairness
# Tokens the bucket holds at most (5 ms at 100 Mbit/s): enough that the relay's
# own wake-up jitter costs no rate, too little to be a burst a client notices.
BUCKET_DEPTH = 4 * CHUNK
PROFILES = {"30": (30.0, 100.0), "100": (100.0, 20.0)}  # name: (round trip ms, Mbit/s)


class TokenBucket:
    """The shared downstream rate, booked as the time the line is busy until."""

    def __init__(self, rate_bytes):
        self.rate = rate_bytes
        self.free_at = 0.0  # when the tokens owed so far have come in

    def take(self, nbytes, now):
        """Books nbytes on the line; returns when the bucket has their tokens
        (now, if it had them already): never earlier than now."""
        self.free_at = max(now - BUCKET_DEPTH / self.rate, self.free_at) + nbytes / self.rate
        return max(now, self.free_at)


class Pipe:
    """One direction of one connection: bytes read now reach the other side
    half a round trip later (plus their turn at the bucket, downstream)."""

    def __init__(self, reader, writer, delay, bucket=None):
        self.reader, self.writer, self.delay, self.bucket = reader, writer, delay, bucket
        self.queue = collections.deque()
        self.ready = asyncio.Event()
        self.last_delivery = None
        self.bytes = 0

    async def read_side(self, start_at):
        loop = asyncio.get_running_loop()
        await asyncio.sleep(max(0.0, start_at - loop.time()))
        try:
            while True:
                data = await self.reader.read(CHUNK)
                if not data:
                    break
                sent = loop.time()
                if self.bucket:
                    sent = self.bucket.take(len(data), sent)
                self.queue.append((sent + self.delay, data))
                self.ready.set()
                # Reading on only when the line has room again keeps the queue
                # short and lets the server feel the line's rate.
                if self.bucket:
                    await asyncio.sleep(max(0.0, sent - BUCKET_DEPTH / self.bucket.rate - loop.time()))
        except (ConnectionError, OSError):
            pass
        self.queue.append((loop.time() + self.delay, b""))
        self.ready.set()

    async def write_side(self):
        loop = asyncio.get_running_loop()
        try:
            while True:
                while not self.queue:
                    self.ready.clear()
                    await self.ready.wait()
                due, data = self.queue.popleft()
                await asyncio.sleep(max(0.0, due - loop.time()))
                if not data:
                    if self.writer.can_write_eof():
                        self.writer.write_eof()
                    break
                self.writer.write(data)
                await self.writer.drain()
                self.bytes += len(data)
                self.last_delivery = time.time()
        except (ConnectionError, OSError):
            pass


class Relay:
    def __init__(self, args):
        self.args = args
        self.rtt = args.rtt_ms / 1000.0
        self.bucket = TokenBucket(args.rate_mbit * 1e6 / 8)
        self.log = open(args.log, "a", buffering=1) if args.log else None

    async def serve(self, creader, cwriter):
        accepted = time.time()
        loop = asyncio.get_running_loop()
        handshake_done = loop.time() + self.rtt
        try:
            sreader, swriter = await asyncio.open_connection("127.0.0.1", self.args.upstream)
        except OSError:
            cwriter.close()
            return
        up = Pipe(creader, swriter, self.rtt / 2)
        down = Pipe(sreader, cwriter, self.rtt / 2, self.bucket)
        await asyncio.gather(up.read_side(handshake_done), up.write_side(),
                             down.read_side(0.0), down.write_side())
        for w in (swriter, cwriter):
            w.close()
        if self.log:
            self.log.write("%.6f\t%.6f\t%d\n" % (accepted, down.last_delivery or accepted, down.bytes))

    async def run(self):
        server = await asyncio.start_server(self.serve, "127.0.0.1", self.args.port, backlog=256)
        port = server.sockets[0].getsockname()[1]
        tmp = self.args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, self.args.port_file)
        async with server:
            await asyncio.sleep(self.args.lifetime)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--upstream", type=int, required=True, help="server port on 127.0.0.1")
    ap.add_argument("--port", type=int, default=0, help="port to listen on (0: any free one)")
    ap.add_argument("--port-file", required=True, help="where the chosen port is written")
    ap.add_argument("--profile", choices=sorted(PROFILES), help="30: 30 ms, 100 Mbit/s; 100: 100 ms, 20 Mbit/s")
    ap.add_argument("--rtt-ms", type=float, default=30.0)
    ap.add_argument("--rate-mbit", type=float, default=100.0)
    ap.add_argument("--lifetime", type=float, default=1800.0, help="seconds until the relay stops by itself")
    ap.add_argument("--log", help="one line per closed connection")
    args = ap.parse_args()
    if args.profile:
        args.rtt_ms, args.rate_mbit = PROFILES[args.profile]
    asyncio.run(Relay(args).run())


if __name__ == "__main__":
    main()
