#include "vqlib/Vqnet.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>

namespace {

// The socket library's start-up state, shared by every TWASTool. Linux has
// nothing to start, so start-up always succeeds.
std::atomic<bool> SocketsStarted{false};

THook<THostAddressesLookup>& LookupHook()
{
    // Never destroyed: a thread still running at exit may look a name up.
    static THook<THostAddressesLookup>* hook = new THook<THostAddressesLookup>;
    return *hook;
}

// The C functions would read such a text only up to its zero byte, and take
// "127.0.0.1\0x" for 127.0.0.1: it is no address and no name at all.
bool HoldsZeroByte(const std::string& text) { return text.find('\0') != std::string::npos; }

int FamilyOf(const std::string& address)
{
    if (StrictAddressFamily(address) == AF_INET)
        return AF_INET;
    return IsIPv6Literal(address) ? AF_INET6 : AF_UNSPEC;
}

bool IsIPv4Literal(const std::string& text)
{
    return !HoldsZeroByte(text) && inet_addr(text.c_str()) != INADDR_NONE;
}

bool InBrackets(const std::string& text)
{
    return text.size() > 2 && text.front() == '[' && text.back() == ']';
}

std::optional<std::string> NumericText(const addrinfo& entry)
{
    if (entry.ai_addr == nullptr || (entry.ai_family != AF_INET && entry.ai_family != AF_INET6))
        return std::nullopt;
    // getnameinfo keeps the zone of a link-local IPv6 address; inet_ntop drops it.
    char text[NI_MAXHOST];
    if (getnameinfo(entry.ai_addr, entry.ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        return std::nullopt;
    return std::string(text);
}

THostAddress SystemLookup(const std::string& host, int family)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address
    addrinfo* answer = nullptr;
    const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
    if (status != 0 || answer == nullptr)
        return {std::nullopt, status != 0 ? status : EAI_NONAME, errno};
    std::vector<std::string> addresses;
    for (const addrinfo* entry = answer; entry != nullptr; entry = entry->ai_next) {
        if (std::optional<std::string> text = NumericText(*entry))
            addresses.push_back(std::move(*text));
    }
    ::freeaddrinfo(answer);
    std::optional<std::string> chosen = PreferredAddress(addresses, family);
    return {chosen, chosen ? 0 : EAI_NONAME, 0};
}

}  // namespace

bool IsTargetLiteral(const std::string& text, TBrackets brackets)
{
    if (brackets == TBrackets::Allowed && InBrackets(text))
        return IsIPv6Literal(text.substr(1, text.size() - 2));
    return IsIPv4Literal(text) || IsIPv6Literal(text);
}

std::optional<TSocketAddress> StrictSocketAddress(const std::string& literal, uint16_t port)
{
    if (HoldsZeroByte(literal))
        return std::nullopt;
    TSocketAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.Storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.Storage);
    if (inet_pton(AF_INET, literal.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.Length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, literal.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.Length = sizeof(sockaddr_in6);
    } else {
        return std::nullopt;
    }
    return address;
}

int StrictAddressFamily(const std::string& literal)
{
    const std::optional<TSocketAddress> address = StrictSocketAddress(literal, 0);
    return address ? address->Family() : AF_UNSPEC;
}

bool IsIPv6Literal(const std::string& text)
{
    if (text.find(':') == std::string::npos || HoldsZeroByte(text))
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;  // never a lookup
    addrinfo* answer = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &answer) != 0)
        return false;
    ::freeaddrinfo(answer);
    return true;
}

std::optional<std::string> PreferredAddress(const std::vector<std::string>& addresses, int family)
{
    for (int preferred : {AF_INET, AF_INET6}) {
        if (family != AF_UNSPEC && family != preferred)
            continue;
        for (const std::string& address : addresses) {
            if (FamilyOf(address) == preferred)
                return address;
        }
    }
    return std::nullopt;
}

THostAddress LookupHostAddress(const std::string& host, int family)
{
    if (HoldsZeroByte(host))
        return {std::nullopt, EAI_NONAME, 0};
    if (const THostAddressesLookup lookup = LookupHook().Get()) {
        std::optional<std::string> address = PreferredAddress(lookup(host), family);
        return {address, address ? 0 : EAI_NONAME, 0};
    }
    return SystemLookup(host, family);
}

THostLookupScope::THostLookupScope(THostLookup lookup)
    : FScope(LookupHook(), [lookup = std::move(lookup)](const std::string& host) {
          std::optional<std::string> address = lookup(host);
          return address ? std::vector<std::string>{*address} : std::vector<std::string>{};
      })
{
}

THostLookupScope::THostLookupScope(THostAddressesLookup lookup) : FScope(LookupHook(), std::move(lookup)) {}

TWASTool::TWASTool()
{
    SocketsStarted = true;
}

TWASTool::~TWASTool()
{
    SocketsStarted = false;
}

bool TWASTool::Started()
{
    return SocketsStarted;
}

bool TWASTool::ResolveHostIP(const std::string& host, std::string& ip, int family)
{
    // An empty name is no host; never hand it to the resolver.
    if (host.empty())
        return false;
    const THostAddress found = LookupHostAddress(host, family);
    if (!found.Address)
        return false;
    ip = *found.Address;
    return true;
}
