// The http URL that opening an item opens, made from the item alone.
#pragma once

#include <winsock2.h>

#include <cstddef>
#include <string>

#include "discovery/ServiceItemId.h"

// "http://" (7), the longest address text "255.255.255.255:65535" (21), one inserted
// "/" and a 255-unit path of which every unit may become three "%XX" bytes of UTF-8
// (a unit outside the ASCII range encodes as up to 3 bytes, a surrogate pair as 4 bytes
// for its 2 units): nothing the stored item can hold is ever cut.
constexpr size_t kServiceUrlMaxUnits = 7 + 21 + 1 + (kServicePathUnits - 1) * 9;

// The address conversion in use: WSAAddressToStringW, replaced only by tests that
// need it to fail.
using AddressToStringFunction = INT(WSAAPI*)(LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR,
                                             LPDWORD);
extern AddressToStringFunction g_addressToString;

// Replaces `url` with "http://", the address and port of the item as text, then its
// path. A path that does not begin with "/" gets one in front, and every unit that may
// not appear raw in a URL is percent-encoded as UTF-8 (an existing "%XX" stays as it
// is); the stored item is only read. S_OK; E_FAIL when the address cannot be written
// as text, E_OUTOFMEMORY when the URL cannot be held; `url` is untouched on failure.
// The sockets library must have been started.
HRESULT BuildServiceUrl(const ServiceItemId* item, std::wstring& url) noexcept;
