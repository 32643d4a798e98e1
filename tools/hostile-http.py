#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Measures how the exporter's HTTP side holds up against clients that misbehave.

While idle connections, clients that send a byte a second, bytes that are not
HTTP, oversized headers and a 1 GB body hold on to it, a scraper fetches
/metrics every 0.2 s on a new connection. Prints the scrape latency and, for each kind of
attack, how long the server took to close it.

With --tls the scraper speaks TLS (with --user, a password too), the idle
connections never start their handshake, and the slow clients send a TLS
ClientHello a byte a second; the other attacks go in clear to the TLS port.

Exits 1 if a scrape failed or took over 100 ms, or if an attack connection was
still open 10 s after the request limit; 2 on bad arguments.

Loopback only: run it against a server started in a network namespace, e.g.
  unshare -n sh -c 'ip link set lo up; SERVER & tools/hostile-http.py PORT'
"""

import argparse
import asyncio
import base64
import os
import resource
import ssl
import statistics
import sys
import time

SCRAPE_EVERY_S = 0.2
SCRAPE_LIMIT_S = 0.1
SCRAPE_GIVE_UP_S = 10.0
GRACE_S = 10.0  # beyond the request limit, for timer slack on a loaded machine


def arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("port", type=int, help="the exporter's port")
    parser.add_argument("--host", default="127.0.0.1", choices=["127.0.0.1", "::1"],
                        help="loopback address it listens on (default 127.0.0.1)")
    parser.add_argument("--seconds", type=float, default=30, help="how long to scrape under attack (default 30)")
    parser.add_argument("--request-limit", type=float, default=5,
                        help="the server's limit for a whole request, in seconds (default 5)")
    parser.add_argument("--idle", type=int, default=300, help="idle connections (default 300)")
    parser.add_argument("--slow", type=int, default=5, help="clients sending one byte a second (default 5)")
    parser.add_argument("--tls", action="store_true", help="the exporter serves TLS (--web-config)")
    parser.add_argument("--user", help="USER:PASSWORD for the scraper's basic auth")
    args = parser.parse_args()
    if not 0 < args.port < 65536 or args.seconds <= 0 or args.request_limit <= 0:
        parser.error("the port must be 1 to 65535 and the times above 0")
    return args


class Attack:
    """One kind of misbehaving client, and what became of its connections."""

    def __init__(self, name):
        self.name = name
        self.closed_after = []  # seconds from connect until the server closed
        self.still_open = 0
        self.failed_to_connect = 0
        self.answer = b""  # the first status line the server sent, if any


async def read_until_closed(reader, started, deadline, attack):
    got = b""
    try:
        while True:
            chunk = await asyncio.wait_for(reader.read(65536), max(deadline - time.monotonic(), 0.01))
            if not chunk:
                break
            got += chunk[: 200 - len(got)]
    except asyncio.TimeoutError:
        attack.still_open += 1
    except OSError:  # reset: closed as well
        attack.closed_after.append(time.monotonic() - started)
    else:
        attack.closed_after.append(time.monotonic() - started)
    if got and not attack.answer:
        attack.answer = got.split(b"\r\n", 1)[0]


async def attack_with(attack, args, deadline_after, send):
    """Connects, lets `send` misbehave, and waits for the server to close."""
    started = time.monotonic()
    try:
        reader, writer = await asyncio.open_connection(args.host, args.port)
    except OSError:
        attack.failed_to_connect += 1
        return
    watch = asyncio.ensure_future(read_until_closed(reader, started, started + deadline_after, attack))
    try:
        await send(writer, watch)
    except OSError:
        pass  # the server closed it while we wrote
    await watch
    writer.close()


async def send_nothing(writer, watch):
    pass


def send_once(data):
    async def send(writer, watch):
        writer.write(data)
        await writer.drain()
    return send


async def send_endless_header(writer, watch):
    writer.write(b"GET /metrics HTTP/1.1\r\nHost: x\r\n")
    for i in range(16):  # 16 lines of 64 KiB: 1 MiB
        if watch.done():
            return
        writer.write(b"X-F%d: " % i + b"b" * 65536 + b"\r\n")
        await writer.drain()
        await asyncio.sleep(0.05)


async def send_endless_body(writer, watch):
    writer.write(b"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000000\r\n\r\n")
    for _ in range(15259):  # 64 KiB at a time: 1 GB
        if watch.done():
            return
        writer.write(b"p" * 65536)
        await writer.drain()


def client_hello():
    """The first bytes of a TLS handshake, as a client sends them."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = insecure_context().wrap_bio(incoming, outgoing)
    try:
        tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return outgoing.read()


def insecure_context():
    # A throw-away certificate of the test's own: nothing to verify it by.
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


async def send_byte_a_second(writer, watch, args):
    start = client_hello() if args.tls else b"GET /metrics HTTP/1.1\r\nHost: x\r\nX-Slow: " + b"z" * 200
    for byte in start:
        if watch.done():
            return
        writer.write(bytes([byte]))
        await writer.drain()
        await asyncio.sleep(1)


async def read_answer(reader):
    head = await reader.readuntil(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    length = 0
    for line in lines[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == "content-length":
            length = int(value)
    body = await reader.readexactly(length)
    return status, body


async def scrape(args):
    started = time.monotonic()
    reader, writer = await asyncio.open_connection(args.host, args.port,
                                                   ssl=insecure_context() if args.tls else None)
    auth = b"Authorization: Basic " + base64.b64encode(args.user.encode()) + b"\r\n" if args.user else b""
    try:
        writer.write(b"GET /metrics HTTP/1.1\r\nHost: x\r\n" + auth + b"Connection: close\r\n\r\n")
        await writer.drain()
        status, _ = await read_answer(reader)
    finally:
        writer.close()
    return status, time.monotonic() - started


async def scraper(args, until, latencies, failures):
    while time.monotonic() < until:
        try:
            status, seconds = await asyncio.wait_for(scrape(args), SCRAPE_GIVE_UP_S)
            if status == 200:
                latencies.append(seconds)
            else:
                failures.append(f"status {status}")
        except (OSError, asyncio.TimeoutError, asyncio.IncompleteReadError, ValueError, IndexError) as error:
            failures.append(repr(error))
        await asyncio.sleep(SCRAPE_EVERY_S)


def percentile(sorted_values, fraction):
    return sorted_values[min(len(sorted_values) - 1, int(len(sorted_values) * fraction))]


def report(args, latencies, failures, attacks, bound):
    problems = []
    over = sum(1 for s in latencies if s > SCRAPE_LIMIT_S)
    if latencies:
        ms = sorted(s * 1000 for s in latencies)
        print(f"scrapes: {len(latencies)} answered, {len(failures)} failed; latency ms median "
              f"{statistics.median(ms):.1f} p95 {percentile(ms, 0.95):.1f} max {ms[-1]:.1f}; "
              f"over {SCRAPE_LIMIT_S * 1000:.0f} ms: {over}")
    else:
        print(f"scrapes: none answered, {len(failures)} failed")
        problems.append("no scrape answered")
    if failures:
        print("  first failures: " + "; ".join(failures[:3]))
        problems.append(f"{len(failures)} scrapes failed")
    if over:
        problems.append(f"{over} scrapes took over {SCRAPE_LIMIT_S * 1000:.0f} ms")

    print(f"{'attack':20} {'conns':>5} {'closed':>6} {'close s min/median/max':>24} {'open':>5}  answer")
    for attack in attacks:
        closed = sorted(attack.closed_after)
        times = f"{closed[0]:.2f}/{statistics.median(closed):.2f}/{closed[-1]:.2f}" if closed else "-"
        total = len(closed) + attack.still_open + attack.failed_to_connect
        print(f"{attack.name:20} {total:5} {len(closed):6} {times:>24} {attack.still_open:5}  "
              f"{attack.answer.decode('latin-1') or '-'}")
        if attack.still_open:
            problems.append(f"{attack.still_open} {attack.name} connections still open after {bound:.0f} s")
        if attack.failed_to_connect:
            print(f"  {attack.failed_to_connect} {attack.name} connections could not be made")
    print("result: " + ("ok" if not problems else "FAILED: " + "; ".join(problems)))
    return 1 if problems else 0


async def run(args):
    bound = args.request_limit + GRACE_S
    idle = Attack("idle")
    slow = Attack("one byte a second")
    attacks = [idle, slow, Attack("random bytes"), Attack('"HELLO THERE"'), Attack("9 KiB header"),
               Attack("1 MiB header"), Attack("POST of 1 GB")]
    print(f"hostile-http: [{args.host}]:{args.port} " if ":" in args.host else
          f"hostile-http: {args.host}:{args.port} ", end="")
    print(f"for {args.seconds:g} s; every attack must be closed within {bound:g} s")
    sends = [(idle, send_nothing)] * args.idle + [(slow, lambda writer, watch: send_byte_a_second(writer, watch, args))] * args.slow + [
        (attacks[2], send_once(os.urandom(300) + b"\r\n\r\n")),
        (attacks[3], send_once(b"HELLO THERE\r\n\r\n")),
        (attacks[4], send_once(b"GET /metrics HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 9216 + b"\r\n\r\n")),
        (attacks[5], send_endless_header),
        (attacks[6], send_endless_body),
    ]
    latencies, failures = [], []
    scraping = asyncio.ensure_future(scraper(args, time.monotonic() + args.seconds, latencies, failures))
    await asyncio.gather(*(attack_with(attack, args, bound, send) for attack, send in sends))
    await scraping
    return report(args, latencies, failures, attacks, bound)


def main():
    args = arguments()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < hard:
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    try:
        return asyncio.run(run(args))
    except KeyboardInterrupt:
        return 1


if __name__ == "__main__":
    sys.exit(main())
