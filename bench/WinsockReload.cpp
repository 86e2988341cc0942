// Winsock loaded and unloaded three times in one process, as it is when the only DLL
// that imports it (mDNS.dll, the folder) is loaded and freed: each round loads ws2_32.dll,
// starts Winsock, makes and binds a UDP socket, cleans up and frees the DLL. Under Wine
// every bind after the first reload fails with WSAENOTSOCK (10038); with any argument the
// process holds ws2_32.dll for the whole run and every bind succeeds.
//   winsock_reload [hold]   (in a test network: tests/network/testnet run -- wine ...)
#include <winsock2.h>
#include <windows.h>

#include <cstdio>

namespace {

template <class Function>
Function Export(HMODULE dll, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

}  // namespace

int main(int argc, char**) {
    if (argc > 1) LoadLibraryW(L"ws2_32.dll");
    for (int round = 1; round <= 3; ++round) {
        const HMODULE ws2 = LoadLibraryW(L"ws2_32.dll");
        if (!ws2) return 1;
        auto startup = Export<int(WINAPI*)(WORD, WSADATA*)>(ws2, "WSAStartup");
        auto cleanup = Export<int(WINAPI*)()>(ws2, "WSACleanup");
        auto makeSocket = Export<SOCKET(WINAPI*)(int, int, int)>(ws2, "socket");
        auto bindSocket = Export<int(WINAPI*)(SOCKET, const sockaddr*, int)>(ws2, "bind");
        auto closeSocket = Export<int(WINAPI*)(SOCKET)>(ws2, "closesocket");
        auto lastError = Export<int(WINAPI*)()>(ws2, "WSAGetLastError");
        WSADATA data;
        const int started = startup(MAKEWORD(2, 2), &data);
        const SOCKET socket = makeSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        const int bound = socket == INVALID_SOCKET
                              ? -1
                              : bindSocket(socket, reinterpret_cast<const sockaddr*>(&any), sizeof(any));
        std::printf("round %d: WSAStartup %d, socket %s, bind %d (error %d)\n", round, started,
                    socket == INVALID_SOCKET ? "failed" : "made", bound, bound ? lastError() : 0);
        if (socket != INVALID_SOCKET) closeSocket(socket);
        cleanup();
        FreeLibrary(ws2);
    }
    return 0;
}
