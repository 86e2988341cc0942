"""Logs the multicast DNS queries for _http._tcp.local that reach the client's side of the
test network, one line each ("query from ADDRESS"), so that a test can tell that a
program browsed without looking at what it drew.
    query_log.py INTERFACE_ADDRESS SECONDS
Listens on the shared port 5353 beside every other stack; prints "ready" once joined and
stops by itself after SECONDS."""
import socket
import struct
import sys
import time

GROUP = "224.0.0.251"
SERVICE_TYPE = ("_http", "_tcp", "local")
PTR = 12


def question_names(packet):
    """The (name, type) of each question; stops at the first malformed one."""
    if len(packet) < 12:
        return
    flags, count = struct.unpack_from("!2xHH", packet)
    if flags & 0x8000:
        return
    offset = 12
    for _ in range(count):
        labels = []
        while True:
            if offset >= len(packet):
                return
            length = packet[offset]
            offset += 1
            if length == 0:
                break
            if length > 63 or offset + length > len(packet):
                return
            labels.append(packet[offset:offset + length].decode("ascii", "replace").lower())
            offset += length
        if offset + 4 > len(packet):
            return
        qtype, = struct.unpack_from("!H", packet, offset)
        offset += 4
        yield tuple(labels), qtype


def main(interface_address, seconds):
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    listener.bind(("", 5353))
    listener.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                        socket.inet_aton(GROUP) + socket.inet_aton(interface_address))
    print("ready", flush=True)
    deadline = time.monotonic() + seconds
    while (left := deadline - time.monotonic()) > 0:
        listener.settimeout(left)
        try:
            packet, (source, _) = listener.recvfrom(9000)
        except socket.timeout:
            break
        if any(name == SERVICE_TYPE and qtype == PTR for name, qtype in question_names(packet)):
            print(f"query from {source}", flush=True)


if __name__ == "__main__":
    main(sys.argv[1], float(sys.argv[2]))
