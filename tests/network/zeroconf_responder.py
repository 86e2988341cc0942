"""A second, independent responder for the test network: python3-zeroconf publishes
N _http._tcp services "Zeroconf Service I" on 192.0.2.1, port 9000+I, TXT path=/zeroconf/I.
Prints "ready" once every service is registered, then answers until killed (at most
ten minutes)."""
import asyncio
import socket
import sys

from zeroconf import IPVersion
from zeroconf.asyncio import AsyncServiceInfo, AsyncZeroconf

LIFETIME = 600
SERVICE_TYPE = "_http._tcp.local."


async def main(count):
    zc = AsyncZeroconf(interfaces=["192.0.2.1"], ip_version=IPVersion.V4Only)
    infos = [
        AsyncServiceInfo(
            SERVICE_TYPE,
            f"Zeroconf Service {i}.{SERVICE_TYPE}",
            addresses=[socket.inet_aton("192.0.2.1")],
            port=9000 + i,
            properties={"path": f"/zeroconf/{i}"},
            server="zeroconf-responder.local.",
        )
        for i in range(1, count + 1)
    ]
    pending = [await zc.async_register_service(info) for info in infos]
    await asyncio.gather(*pending)
    print("ready", flush=True)
    await asyncio.sleep(LIFETIME)
    await zc.async_close()


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1])))
