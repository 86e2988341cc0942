// The DNS message codec of mDNS.dll: portable C++17, no Windows header.
#ifndef MDNS_WIRE_DNSWIRE_H
#define MDNS_WIRE_DNSWIRE_H

#include "mdns/wire/DnsMessage.h"
#include "mdns/wire/MessageParser.h"
#include "mdns/wire/MessageWriter.h"
#include "mdns/wire/Names.h"
#include "mdns/wire/TxtText.h"
#include "mdns/wire/UnicastMessage.h"
#include "mdns/wire/Utf.h"
#include "mdns/wire/WireReader.h"

#endif
