"""The network's side and the peer's side of the live-folder benchmark, in one process:
the first announcement, the first SRV and the goodbye of every instance as they arrive (a
listener on 224.0.0.251:5353), and python3-zeroconf's ServiceBrowser callbacks (added,
removed).
  watch_peer.py CLIENT_ADDRESS
Prints "ready", then one line per observation on stdout, times in ms since 1970:
  MS packet + NAME | MS srv + NAME | MS packet - NAME | MS peer + NAME | MS peer - NAME"""
import socket
import struct
import sys
import threading
import time

from zeroconf import IPVersion, ServiceBrowser, ServiceStateChange, Zeroconf
from zeroconf._protocol.incoming import DNSIncoming

SERVICE_TYPE = "_http._tcp.local."
lock = threading.Lock()


def say(kind, sign, name, ms=None):
    with lock:
        print("%d %s %s %s" % (ms or time.time() * 1000, kind, sign, name), flush=True)


def listen(address):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("", 5353))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                    struct.pack("4s4s", socket.inet_aton("224.0.0.251"), socket.inet_aton(address)))
    live = set()
    located = set()  # those whose SRV was seen
    while True:
        data, _ = sock.recvfrom(9000)
        ms = time.time() * 1000  # the records of one packet arrived together
        message = DNSIncoming(data)
        if not message.is_response():
            continue
        for record in message.answers:
            if record.type == 33 and record.ttl > 0 and record.name.endswith("." + SERVICE_TYPE):
                name = record.name[: -len(SERVICE_TYPE) - 1]
                if name not in located:
                    located.add(name)
                    say("srv", "+", name, ms)
            if record.type != 12 or record.name != SERVICE_TYPE:  # PTR of the service type
                continue
            name = record.alias[: -len(SERVICE_TYPE) - 1]
            if record.ttl > 0 and name not in live:
                live.add(name)
                say("packet", "+", name, ms)
            elif record.ttl == 0 and name in live:
                live.discard(name)
                located.discard(name)
                say("packet", "-", name, ms)


def on_change(zeroconf, service_type, name, state_change):
    name = name[: -len(SERVICE_TYPE) - 1]
    if state_change is ServiceStateChange.Added:
        say("peer", "+", name)
    elif state_change is ServiceStateChange.Removed:
        say("peer", "-", name)


def main():
    threading.Thread(target=listen, args=(sys.argv[1],), daemon=True).start()
    zeroconf = Zeroconf(interfaces=[sys.argv[1]], ip_version=IPVersion.V4Only)
    ServiceBrowser(zeroconf, SERVICE_TYPE, handlers=[on_change])
    print("ready", flush=True)
    try:
        sys.stdin.read()  # until the driver closes it
    finally:
        zeroconf.close()


main()
