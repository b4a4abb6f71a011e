// The reply decoder on arbitrary bytes: it may refuse a reply, never crash,
// hang or read outside it. The identifier is taken from the reply so that
// decoding goes past the identifier check.

#include "engine/Measuredns.h"
#include "net/IdDNSResolver.h"
#include "net/IdException.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TIdDNSResolver* resolver = [] {
        auto* prepared = new TIdDNSResolver;
        prepared->Questions.push_back({DNSQueryHostName, DnsTypeA, DnsClassIN});
        prepared->BuildQuery();
        return prepared;
    }();
    resolver->SetReply(std::string(reinterpret_cast<const char*>(data), size));
    resolver->DNSHeader.ID = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
    try {
        resolver->DecodeReply();
    } catch (const EIdDnsResolverError&) {
    }
    return 0;
}
