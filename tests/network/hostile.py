"""A hostile mDNS responder for the test network. It listens on 192.0.2.1:5353 and answers
every query for _http._tcp.local with crafted packets (by multicast, and by unicast to a
legacy or QU asker too). Bounded: at most MAX_ANSWERS queries are answered, and it exits
after LIFETIME seconds (HOSTILE_MAX_ANSWERS and HOSTILE_LIFETIME in the environment raise
them for a soak run). Prints "ready" once it listens.

Scenarios (argument 1):
  mixed  malformed packets each carrying a PTR that must never be reported, then:
         "Hostile Good" (port 80, 198.51.100.7, TXT path=/good): reported once;
         "Hostile Twin" sent many times, also as "HOSTILE TWIN": reported once;
         "Hostile No Address" (its host has only AAAA): not reported;
         "Hostile No TXT" (no TXT ever, TXT questions unanswered): reported, empty TXT;
         "Hostile Goodbye" (PTR, then its goodbye, then its address): not reported;
         "Hostile Late Address" (A sent only when asked for): reported;
         "Hostile Late SRV" (PTR only; SRV, TXT and A when asked for): reported;
         labels "Bad\\xffUTF8" and "Zero\\x00Byte": reported as "Bad\\ufffdUTF8", "Zero\\ufffdByte".
         A browse question that comes over loopback, where only an asker that joined the
         group there sends it, is answered there with "Hostile Loopback": never reported.
  exclusive  as mixed, but holding 5353 without sharing it, so the asker falls back to
         an ephemeral port and gets unicast replies
  flood  6000 distinct fully resolved instances "Flood I" within about one second, again
         for every browse question.
"""
import os
import socket
import struct
import sys
import time

LIFETIME = int(os.environ.get("HOSTILE_LIFETIME", 120))
MAX_ANSWERS = int(os.environ.get("HOSTILE_MAX_ANSWERS", 200))
GROUP = "224.0.0.251"
PORT = 5353
OWN = "192.0.2.1"
LOOPBACK = "127.0.0.1"
SERVICE = [b"_http", b"_tcp", b"local"]
T_A, T_PTR, T_TXT, T_AAAA, T_SRV = 1, 12, 16, 28, 33


def name(labels):
    out = b""
    for label in labels:
        out += bytes([len(label)]) + label
    return out + b"\0"


def record(owner, rtype, rdata, ttl=120, flush=False):
    rclass = 0x8001 if flush else 1
    return owner + struct.pack(">HHIH", rtype, rclass, ttl, len(rdata)) + rdata


def instance(label):
    return name([label] + SERVICE)


def ptr(label, ttl=4500):
    return record(name(SERVICE), T_PTR, instance(label), ttl)


def srv(label, host, port, ttl=120):
    return record(instance(label), T_SRV, struct.pack(">HHH", 0, 0, port) + name(host), ttl, True)


def txt(label, *strings):
    data = b"".join(bytes([len(s)]) + s for s in strings)
    return record(instance(label), T_TXT, data, 4500, True)


def a(host, address, ttl=120):
    return record(name(host), T_A, socket.inet_aton(address), ttl, True)


def message(answers, additionals=(), flags=0x8400, counts=None):
    header = struct.pack(">HHHHHH", 0, flags, 0, len(answers), 0, len(additionals))
    if counts is not None:
        header = struct.pack(">HHHHHH", 0, flags, *counts)
    return header + b"".join(answers) + b"".join(additionals)


def full(label, host, address, port, *strings):
    return [ptr(label)], [srv(label, host, port), txt(label, *strings), a(host, address)]


def malformed_packets():
    """Each packet starts with a well-formed PTR for "Malformed K" and breaks later on."""
    packets = []

    def broken(k, tail, extra_answers=1):
        answers = ptr(b"Malformed %d" % k)
        header = struct.pack(">HHHHHH", 0, 0x8400, 0, 1 + extra_answers, 0, 0)
        packets.append(header + answers + tail)

    host = [b"mal", b"local"]
    base = 12 + len(ptr(b"Malformed 0"))
    # A name whose pointer points at itself, then one pointing forward, then past the end.
    broken(1, struct.pack(">H", 0xC000 | base) + struct.pack(">HHIH", T_A, 1, 120, 4) + b"\1\2\3\4")
    broken(2, struct.pack(">H", 0xC000 | (base + 40)) + b"\0" * 50)
    broken(3, struct.pack(">H", 0xC000 | 0x3FFF))
    # Two pointers pointing at each other.
    broken(4, struct.pack(">HH", 0xC000 | (base + 2), 0xC000 | base))
    # A label over 63 bytes, and a name over 255 octets.
    broken(5, b"\x40" + b"x" * 64 + b"\0" + struct.pack(">HHIH", T_A, 1, 120, 4) + b"\1\2\3\4")
    broken(6, b"\x3f" + b"y" * 63 + b"\x3f" + b"y" * 63 + b"\x3f" + b"y" * 63 + b"\x3f" + b"y" * 63 +
           b"\0" + struct.pack(">HHIH", T_A, 1, 120, 4) + b"\1\2\3\4")
    # A record cut short, rdlength past the end, counts larger than the packet.
    broken(7, name(host) + struct.pack(">HH", T_A, 1))
    broken(8, name(host) + struct.pack(">HHIH", T_A, 1, 120, 400) + b"\1\2\3\4")
    broken(9, b"", extra_answers=60)
    # A TXT string longer than its record data; SRV and A records of the wrong size.
    broken(10, record(instance(b"Malformed 10"), T_TXT, b"\x20short"))
    broken(11, record(instance(b"Malformed 11"), T_SRV, b"\0\0\0\0"))
    broken(12, record(name(host), T_A, b"\1\2\3"))
    # A reserved label type.
    broken(13, b"\x80abc\0" + struct.pack(">HHIH", T_A, 1, 120, 4) + b"\1\2\3\4")
    # A truncated header and a 9000-byte packet of noise.
    packets.append(b"\0\0\x84\0\0")
    packets.append(bytes((i * 7 + 3) % 256 for i in range(9000)))
    return packets


class Mixed:
    # Once only: a second round would revive what the first one said goodbye to.
    repeats = False

    def first(self):
        out = list(malformed_packets())
        good = full(b"Hostile Good", [b"good", b"local"], "198.51.100.7", 80, b"path=/good", b"k=v")
        out.append(message(*good))
        twin = full(b"Hostile Twin", [b"twin", b"local"], "198.51.100.8", 8080, b"path=/twin")
        out += [message(*twin)] * 3
        out.append(message([ptr(b"HOSTILE TWIN")], [srv(b"HOSTILE TWIN", [b"twin", b"local"], 8080)]))
        out.append(message([ptr(b"Hostile No Address")],
                           [srv(b"Hostile No Address", [b"noaddr", b"local"], 81),
                            txt(b"Hostile No Address", b"path=/noaddr"),
                            record(name([b"noaddr", b"local"]), T_AAAA, b"\x20\x01\x0d\xb8" + b"\0" * 11 + b"\1")]))
        out.append(message([ptr(b"Hostile No TXT")],
                           [srv(b"Hostile No TXT", [b"notxt", b"local"], 82),
                            a([b"notxt", b"local"], "198.51.100.9")]))
        out.append(message([ptr(b"Hostile Goodbye")],
                           [srv(b"Hostile Goodbye", [b"bye", b"local"], 83),
                            txt(b"Hostile Goodbye", b"path=/bye")]))
        out.append(message([ptr(b"Hostile Goodbye", ttl=0)]))
        out.append(message([a([b"bye", b"local"], "198.51.100.10")]))
        out.append(message([ptr(b"Hostile Late Address")],
                           [srv(b"Hostile Late Address", [b"lateaddr", b"local"], 84),
                            txt(b"Hostile Late Address", b"path=/lateaddr")]))
        out.append(message([ptr(b"Hostile Late SRV")]))
        out.append(message(*full(b"Bad\xffUTF8", [b"odd", b"local"], "198.51.100.12", 86, b"path=/bad")))
        out.append(message(*full(b"Zero\x00Byte", [b"odd", b"local"], "198.51.100.12", 87, b"path=/zero")))
        return out

    def answer(self, questions):
        """Answers what the Late instances leave for the asker to ask."""
        out = []
        for qname, qtype in questions:
            if qname == [b"lateaddr", b"local"] and qtype in (T_A, 255):
                out.append(message([a([b"lateaddr", b"local"], "198.51.100.11")]))
            if qname == [b"Hostile Late SRV"] + SERVICE and qtype in (T_SRV, 255):
                out.append(message([srv(b"Hostile Late SRV", [b"latesrv", b"local"], 85)]))
            if qname == [b"Hostile Late SRV"] + SERVICE and qtype in (T_TXT, 255):
                out.append(message([txt(b"Hostile Late SRV", b"path=/latesrv")]))
            if qname == [b"latesrv", b"local"] and qtype in (T_A, 255):
                out.append(message([a([b"latesrv", b"local"], "198.51.100.13")]))
        return out


class Flood:
    COUNT = 6000
    PER_PACKET = 40
    repeats = True

    def __init__(self):
        self.packets = None

    def first(self):
        if self.packets is None:
            self.packets = self.build()
        return self.packets

    def build(self):
        out = []
        for start in range(1, self.COUNT + 1, self.PER_PACKET):
            answers, additionals = [], []
            for i in range(start, min(start + self.PER_PACKET, self.COUNT + 1)):
                label = b"Flood %d" % i
                answers.append(ptr(label))
                additionals += [srv(label, [b"flood", b"local"], 80), txt(label, b"path=/f")]
            additionals.append(a([b"flood", b"local"], "198.51.100.20"))
            out.append(message(answers, additionals))
        return out

    def answer(self, questions):
        return []


def read_name(data, offset):
    labels, jumps, end = [], 0, None
    while True:
        length = data[offset]
        if length >= 0xC0:
            if end is None:
                end = offset + 2
            offset = ((length & 0x3F) << 8) | data[offset + 1]
            jumps += 1
            if jumps > 20:
                raise ValueError("pointer loop")
            continue
        if length == 0:
            return labels, (end if end is not None else offset + 1)
        labels.append(data[offset + 1:offset + 1 + length])
        offset += 1 + length


def questions_of(data):
    _, flags, qdcount = struct.unpack(">HHH", data[:6])
    if flags & 0x8000:
        return None
    out, offset = [], 12
    for _ in range(qdcount):
        qname, offset = read_name(data, offset)
        qtype, qclass = struct.unpack(">HH", data[offset:offset + 4])
        offset += 4
        out.append((qname, qtype, qclass))
    return out


def main():
    scenario = {"mixed": Mixed, "exclusive": Mixed, "flood": Flood}[sys.argv[1]]()
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    if sys.argv[1] != "exclusive":
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    sock.bind(("0.0.0.0", PORT))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                    socket.inet_aton(GROUP) + socket.inet_aton(OWN))
    if sys.argv[1] == "mixed":
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                        socket.inet_aton(GROUP) + socket.inet_aton(LOOPBACK))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(OWN))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 255)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    print("ready", flush=True)
    deadline = time.monotonic() + LIFETIME
    answered = 0
    sent_first = False
    while answered < MAX_ANSWERS and time.monotonic() < deadline:
        sock.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            data, source = sock.recvfrom(9000)
        except socket.timeout:
            break
        if source[0] == OWN:
            continue
        try:
            questions = questions_of(data)
        except (ValueError, IndexError, struct.error):
            continue
        if not questions:
            continue
        wanted = [(q[0], q[1]) for q in questions]
        if source[0] == LOOPBACK:
            if any(q == (SERVICE, T_PTR) for q in wanted):
                looped = message(*full(b"Hostile Loopback", [b"loop", b"local"], "198.51.100.30", 88,
                                       b"path=/loopback"))
                sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(LOOPBACK))
                sock.sendto(looped, (GROUP, PORT))
                sock.sendto(looped, source)
                sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(OWN))
                print("answered over loopback", source, flush=True)
            continue
        packets = []
        if ((scenario.repeats or not sent_first) and
                any(q[0] == SERVICE and q[1] in (T_PTR, 255) for q in questions)):
            packets += scenario.first()
            sent_first = True
        packets += scenario.answer(wanted)
        if not packets:
            continue
        answered += 1
        unicast = source[1] != PORT or any(q[2] & 0x8000 for q in questions)
        for packet in packets:
            sock.sendto(packet, (GROUP, PORT))
            if unicast:
                sock.sendto(packet, source)
            time.sleep(0.0002)
        print("answered", source, len(packets), flush=True)


if __name__ == "__main__":
    main()
