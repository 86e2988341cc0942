#!/usr/bin/env python3
"""What one browse costs the responders of the test network, and how soon they answer the
next: sends QUERIES browse questions (PTR _http._tcp.local, unicast reply asked) GAP
seconds apart, counts the response packets each one gets within the gap, and prints the
CPU time the avahi-daemons spent meanwhile. Runs inside tests/network/testnet:

  tests/network/testnet run --hosts 20 --services 1000 -- bench/responder_load.py [QUERIES [GAP]]
"""
import os
import select
import socket
import struct
import sys
import time

GROUP = "224.0.0.251"


def responders_cpu_seconds():
    ticks = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if not f.read().startswith(b"avahi-daemon"):
                    continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            ticks += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            continue
    return ticks / os.sysconf("SC_CLK_TCK")


def browse_question():
    name = b"".join(bytes([len(label)]) + label for label in (b"_http", b"_tcp", b"local")) + b"\0"
    return struct.pack(">6H", 0, 0, 1, 0, 0, 0) + name + struct.pack(">HH", 12, 0x8001)


def main():
    queries = int(sys.argv[1]) if len(sys.argv) > 1 else 6
    gap = float(sys.argv[2]) if len(sys.argv) > 2 else 0.6
    client = os.environ["TESTNET_CLIENT"]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("", 5353))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                    socket.inet_aton(GROUP) + socket.inet_aton(client))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(client))
    time.sleep(3)  # the announcements are over
    for query in range(1, queries + 1):
        cpu = responders_cpu_seconds()
        sent = time.monotonic()
        sock.sendto(browse_question(), (GROUP, 5353))
        packets, hosts, first = 0, set(), None
        while (left := sent + gap - time.monotonic()) > 0:
            if not select.select([sock], [], [], left)[0]:
                break
            data, (address, _) = sock.recvfrom(9000)
            if address == client or len(data) < 12 or not data[2] & 0x80:
                continue
            packets += 1
            hosts.add(address)
            first = first or time.monotonic() - sent
        first_ms = f"{first * 1000:.0f} ms" if first else "-"
        print(f"query {query}: {packets} response packets from {len(hosts)} hosts, first "
              f"after {first_ms}; responders' CPU in those {gap} s: "
              f"{responders_cpu_seconds() - cpu:.2f} s", flush=True)


if __name__ == "__main__":
    main()
