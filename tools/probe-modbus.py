#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Modbus TCP read latency of `serve --modbus` while it polls N emulated units.

One client reads the 64 input registers of unit identifiers 1 to 247 in turn,
RATE requests a second, first alone and then while hostile clients press on
the same port: a flood of idle connections, one sending a byte a second, and
ones whose length field lies. Prints the median, 99th percentile and highest
latency of each phase, and serve's CPU share of one core in each. Everything is on
loopback: run it in a network of its own.

  unshare -n sh -c 'ip link set lo up; tools/probe-modbus.py build/lumora-7150r-cli build/lumora-7150r-unit'
"""

import argparse
import os
import re
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def request(transaction, unit_id):
    return struct.pack(">HHHBBHH", transaction & 0xFFFF, 0, 6, unit_id, 4, 0, 64)


def read_phase(port, seconds, rate, units):
    client = socket.create_connection(("127.0.0.1", port))
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    latencies, errors, n = [], 0, 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        n += 1
        unit_id = 1 + n % units
        start = time.monotonic()
        client.sendall(request(n, unit_id))
        answer = b""
        while len(answer) < 9 + 128 and not (len(answer) >= 9 and answer[7] & 0x80):
            chunk = client.recv(512)
            if not chunk:
                sys.exit("the server closed the reading client")
            answer += chunk
        latencies.append((time.monotonic() - start) * 1000)
        errors += answer[7] & 0x80 != 0
        time.sleep(max(0.0, 1 / rate - (time.monotonic() - start)))
    client.close()
    return latencies, errors


def hostile(port, idle):
    held = []
    for _ in range(idle):
        try:
            held.append(socket.create_connection(("127.0.0.1", port)))
        except OSError:
            break
    liar = socket.create_connection(("127.0.0.1", port))
    liar.sendall(struct.pack(">HHHB", 1, 0, 200, 1) + b"\x04")
    return held + [liar]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("emulator")
    parser.add_argument("--units", type=int, default=1000)
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--rate", type=float, default=50)
    parser.add_argument("--idle", type=int, default=1000)
    options = parser.parse_args()

    work = tempfile.mkdtemp()
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
    emulator = subprocess.Popen([options.emulator, "--listen", "127.0.0.1:30000", "--units", str(options.units),
                                 "--quiet"], stdout=subprocess.DEVNULL)
    with open(os.path.join(work, "units"), "w") as units:
        units.writelines(f"127.0.0.1:{30000 + k}\n" for k in range(options.units))
    serve = subprocess.Popen([options.cli, "serve", "--listen", "127.0.0.1:0", "--modbus", "127.0.0.1:0",
                              "--units-file", os.path.join(work, "units")], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        port = None
        while port is None:
            line = serve.stdout.readline()
            if not line:
                sys.exit("serve ended")
            found = re.search(r"Modbus TCP listening on 127\.0\.0\.1:(\d+)", line)
            port = int(found.group(1)) if found else None
        time.sleep(5)  # every unit answered once
        served = min(options.units, 247)

        rows = []
        before = cpu_seconds(serve.pid)
        time.sleep(options.seconds)
        rows.append(("no Modbus client", None, (cpu_seconds(serve.pid) - before) / options.seconds))

        before = cpu_seconds(serve.pid)
        latencies, errors = read_phase(port, options.seconds, options.rate, served)
        rows.append(("one reading client", (latencies, errors), (cpu_seconds(serve.pid) - before) / options.seconds))

        pressed = hostile(port, options.idle)
        trickle = socket.create_connection(("127.0.0.1", port))
        before = cpu_seconds(serve.pid)
        # The byte a second goes out from a child, so that it keeps its pace.
        trickler = os.fork()
        if trickler == 0:
            for byte in request(1, 1):
                try:
                    trickle.send(bytes([byte]))
                except OSError:
                    os._exit(0)
                time.sleep(1)
            os._exit(0)
        latencies, errors = read_phase(port, options.seconds, options.rate, served)
        rows.append((f"with {options.idle} idle, a byte a second, a lying length", (latencies, errors),
                     (cpu_seconds(serve.pid) - before) / options.seconds))
        os.kill(trickler, 9)
        os.waitpid(trickler, 0)
        for held in pressed:
            held.close()

        print(f"{options.units} units polled at 1 s, identifiers 1 to {served} read in turn, {options.rate:g}/s")
        for name, reading, share in rows:
            figures = "" if reading is None else (
                f"median {statistics.median(reading[0]):.2f} ms, "
                f"99th percentile {statistics.quantiles(reading[0], n=100)[98]:.2f} ms, max {max(reading[0]):.2f} ms, "
                f"{len(reading[0])} reads, {reading[1]} exceptions; ")
            print(f"  {name}: {figures}serve {share:.3f} of a core")
    finally:
        serve.terminate()
        emulator.terminate()
        serve.wait()
        emulator.wait()


if __name__ == "__main__":
    main()
