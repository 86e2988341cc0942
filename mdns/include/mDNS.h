/*
 * The DNS-SD library mDNS.dll: browsing for services on the local network by
 * multicast DNS. One header for both sides: the library and its callers.
 *
 * Every call returns a DNSStatus: 0 on success, one of the non-zero codes
 * below otherwise. Events reach the callback on a thread of the library, one at
 * a time, and none is delivered once DNSBrowserRelease (for that browser) or
 * DNSServicesFinalize (for all) has returned.
 */
#ifndef MDNS_H
#define MDNS_H

#include <stddef.h>
#include <stdint.h>

#if defined(MDNS_BUILDING_LIBRARY)
#define MDNS_API __declspec(dllexport)
#else
#define MDNS_API __declspec(dllimport)
#endif
/* One calling convention on both sides of the DLL boundary, callback included:
   with cdecl the 32-bit exports carry their plain names. */
#define MDNS_CALL __cdecl

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t DNSStatus;
typedef uint32_t DNSFlags;
typedef struct DNSBrowser* DNSBrowserRef;

enum {
    kDNSNoErr = 0,
    kDNSBadParamErr = -65540,      /* null or malformed argument */
    kDNSBadReferenceErr = -65541,  /* null, unknown or released browser */
    kDNSBadStateErr = -65542,      /* call out of order (not initialised, already searching) */
    kDNSNoMemoryErr = -65539,
    kDNSNetworkErr = -65543        /* no socket could be had */
};

/* Flags of DNSBrowserStartServiceSearchW.
   kDNSBrowserFlagAutoResolve: resolve every instance found and report it with one
   kDNSBrowserEventTypeResolved event.
   kDNSBrowserFlagConfiguredDomains, with it: also browse for the type in the unicast DNS
   browse domains that the machine's DNS configuration names (its domains' and networks'
   lb._dns-sd._udp and db._dns-sd._udp, at most 8), asked of its DNS servers, while the
   search runs. Such a service's event carries its browse domain (L"corp.example"); a
   service found both ways (same instance name, address, port and TXT text) is reported
   once.
   kDNSBrowserFlagFollow, with it: a watch that runs until stopped. It keeps querying as
   RFC 6762 §5.2 asks (the second query after a second, each interval twice the one
   before, up to an hour), refreshes at 80-95% of their TTL the records of the services
   it reported (and of no others), and reports after the first event of a service:
   - kDNSBrowserEventTypeResolved again, with the whole record, when its address, port or
     TXT text changed: a resolved event for a name already reported is a change;
   - kDNSBrowserEventTypeRemoved once when it left: a goodbye not taken back within a
     second, one of its records (PTR, SRV, its host's address) expired, or its host
     answered the browse without it and it stayed silent for a second when asked by name.
   A service reported after its removal is new again. What a flood of instances costs is
   bounded as for any search. */
enum {
    kDNSBrowserFlagAutoResolve = 2,
    kDNSBrowserFlagConfiguredDomains = 4,
    kDNSBrowserFlagFollow = 8
};

/* Event types. kDNSBrowserEventTypeRemoved carries a ResolvedServiceData whose name,
   type and domain are set, whose address is zero and whose txt is empty. */
enum {
    kDNSBrowserEventTypeRelease = 1,
    kDNSBrowserEventTypeResolved = 30,
    kDNSBrowserEventTypeRemoved = 31
};

/* The 20-byte address of a resolved service. ipv4Address and port are numbers in
   the machine's byte order: 192.0.2.1 is 0xC0000201, port 80 is 80. */
typedef struct ServiceAddress {
    uint32_t family;        /* 2 (IPv4) when filled by the library */
    uint32_t ipv4Address;
    uint16_t port;
    uint8_t reserved[10];   /* zero */
} ServiceAddress;

/* One resolved service. The pointers stay valid until the callback returns.
   txt: the service's TXT strings in the order announced, each followed by a zero
   byte, the list ended by one more zero byte; a service whose TXT is empty (or
   never came) has an empty text, so the first entry is always a plain
   zero-terminated UTF-8 string. */
typedef struct ResolvedServiceData {
    const wchar_t* name;     /* instance name, UTF-16, zero-terminated */
    const wchar_t* type;     /* service type searched for, e.g. L"_http._tcp" */
    const wchar_t* domain;   /* domain searched in, e.g. L".local" */
    uint32_t interfaceIndex; /* interface the answer arrived on */
    uint32_t txtSize;        /* bytes of txt, both final zero bytes included */
    uint32_t ttl;            /* seconds the answer stays valid */
    uint32_t reserved[2];
    ServiceAddress address;
    const char* txt;
} ResolvedServiceData;

typedef struct BrowserEvent {
    uint32_t type;
    const ResolvedServiceData* resolved;  /* for kDNSBrowserEventTypeResolved */
} BrowserEvent;

/* context: as given to DNSBrowserCreateW; browser: the browser; status: 0. */
typedef void(MDNS_CALL* DNSBrowserCallBack)(void* context, DNSBrowserRef browser,
                                            intptr_t status, const BrowserEvent* event);

/* flags and reserved: 0. Calls nest: each successful call needs one DNSServicesFinalize. */
MDNS_API DNSStatus MDNS_CALL DNSServicesInitialize(DNSFlags flags, uint32_t reserved);
MDNS_API DNSStatus MDNS_CALL DNSServicesFinalize(void);

MDNS_API DNSStatus MDNS_CALL DNSBrowserCreateW(DNSFlags flags, DNSBrowserCallBack callback,
                                               void* context, DNSBrowserRef* outBrowser);
/* type: L"_http._tcp"; domain: L".local" (a trailing or leading dot is optional). */
MDNS_API DNSStatus MDNS_CALL DNSBrowserStartServiceSearchW(DNSBrowserRef browser, DNSFlags flags,
                                                           const wchar_t* type,
                                                           const wchar_t* domain);
MDNS_API DNSStatus MDNS_CALL DNSBrowserStopServiceSearch(DNSBrowserRef browser, DNSFlags flags);
/* Returns only when no event of this browser can be delivered any more. */
MDNS_API DNSStatus MDNS_CALL DNSBrowserRelease(DNSBrowserRef browser, DNSFlags flags);

#ifdef __cplusplus
}

static_assert(sizeof(ServiceAddress) == 20, "ServiceAddress is 20 bytes");
static_assert(offsetof(ServiceAddress, ipv4Address) == 4, "ServiceAddress layout");
static_assert(offsetof(ServiceAddress, port) == 8, "ServiceAddress layout");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(BrowserEvent, type) == 0 && offsetof(BrowserEvent, resolved) == 4,
              "32-bit BrowserEvent layout");
static_assert(offsetof(ResolvedServiceData, name) == 0 &&
                  offsetof(ResolvedServiceData, address) == 32 &&
                  offsetof(ResolvedServiceData, txt) == 52 && sizeof(ResolvedServiceData) == 56,
              "32-bit ResolvedServiceData layout");
#else
static_assert(offsetof(BrowserEvent, type) == 0 && offsetof(BrowserEvent, resolved) == 8,
              "64-bit BrowserEvent layout");
static_assert(offsetof(ResolvedServiceData, name) == 0 &&
                  offsetof(ResolvedServiceData, address) == 44 &&
                  offsetof(ResolvedServiceData, txt) == 64 && sizeof(ResolvedServiceData) == 72,
              "64-bit ResolvedServiceData layout");
#endif
#endif

#endif
