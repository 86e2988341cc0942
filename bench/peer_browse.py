"""The peer's figures: python3-zeroconf's browser on the test network, BROWSES back-to-back
500 ms browses of _http._tcp, counting the instances resolved (address and port) within
each window.
  peer_browse.py fresh|long N [BROWSES]
fresh: a new Zeroconf for every browse; long: one Zeroconf for all, whose cache lives on
between browses. Prints a line per browse on stderr and one summary line on stdout:
  peer-MODE N first_resolved least_resolved_of_rest last_ms_max cpu_ms_mean"""
import asyncio
import sys
import time

from zeroconf import IPVersion, ServiceStateChange
from zeroconf.asyncio import AsyncServiceBrowser, AsyncServiceInfo, AsyncZeroconf

SERVICE_TYPE = "_http._tcp.local."
WINDOW = 0.5


def new_zeroconf():
    return AsyncZeroconf(interfaces=["192.0.2.2"], ip_version=IPVersion.V4Only)


async def browse(zc):
    """One window: the resolved instances and the time of the last one, in ms."""
    start = time.monotonic()
    resolved = {}
    tasks = []

    async def resolve(name):
        info = AsyncServiceInfo(SERVICE_TYPE, name)
        left = WINDOW - (time.monotonic() - start)
        if left > 0 and await info.async_request(zc.zeroconf, int(left * 1000)):
            if info.parsed_addresses() and info.port:
                resolved.setdefault(name, time.monotonic() - start)

    def on_change(zeroconf, service_type, name, state_change):
        if state_change is ServiceStateChange.Added:
            tasks.append(asyncio.ensure_future(resolve(name)))

    browser = AsyncServiceBrowser(zc.zeroconf, SERVICE_TYPE, handlers=[on_change])
    await asyncio.sleep(WINDOW)
    within = [t for t in resolved.values() if t <= WINDOW]
    await browser.async_cancel()
    for task in tasks:
        task.cancel()
    return len(within), (max(within) * 1000 if within else -1)


async def main(mode, count, browses):
    long_lived = new_zeroconf() if mode == "long" else None
    found, last_max, cpu = [], -1.0, 0.0
    for i in range(browses):
        cpu_before = time.process_time()
        zc = long_lived or new_zeroconf()
        resolved, last = await browse(zc)
        if not long_lived:
            await zc.async_close()
        cpu += time.process_time() - cpu_before
        found.append(resolved)
        last_max = max(last_max, last)
        print(f"peer {mode} browse {i + 1}: {resolved} of {count}, last {last:.1f} ms",
              file=sys.stderr, flush=True)
    if long_lived:
        await long_lived.async_close()
    print(f"peer-{mode} {count} {found[0]} {min(found[1:])} {last_max:.1f} "
          f"{cpu * 1000 / browses:.1f}", flush=True)


if __name__ == "__main__":
    browses = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    asyncio.run(main(sys.argv[1], int(sys.argv[2]), max(2, browses)))
