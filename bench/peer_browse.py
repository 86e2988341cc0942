"""The peer's figures: python3-zeroconf's ServiceBrowser on the test network, one 500 ms
browse with a fresh Zeroconf. Prints: peer N resolved_within_500ms last_ms."""
import asyncio
import sys
import time

from zeroconf import IPVersion, ServiceStateChange
from zeroconf.asyncio import AsyncServiceBrowser, AsyncServiceInfo, AsyncZeroconf

SERVICE_TYPE = "_http._tcp.local."
WINDOW = 0.5


async def main(count):
    zc = AsyncZeroconf(interfaces=["192.0.2.2"], ip_version=IPVersion.V4Only)
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
    last = max(within) * 1000 if within else -1
    print(f"peer {count} {len(within)} {last:.1f}", flush=True)
    await browser.async_cancel()
    for task in tasks:
        task.cancel()
    await zc.async_close()


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1])))
