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

THook<THostLookup>& LookupHook()
{
    // Never destroyed: a thread still running at exit may look a name up.
    static THook<THostLookup>* hook = new THook<THostLookup>;
    return *hook;
}

THostAddress SystemLookup(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address
    addrinfo* answer = nullptr;
    const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
    if (status != 0 || answer == nullptr)
        return {std::nullopt, status != 0 ? status : EAI_NONAME, errno};
    THostAddress result{std::nullopt, EAI_NONAME, 0};
    if (answer->ai_family == AF_INET && answer->ai_addr != nullptr) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
        char text[INET_ADDRSTRLEN];
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
            result = {text, 0, 0};
    }
    ::freeaddrinfo(answer);
    return result;
}

}  // namespace

THostAddress LookupHostIPv4(const std::string& host)
{
    if (const THostLookup lookup = LookupHook().Get()) {
        std::optional<std::string> address = lookup(host);
        return {address, address ? 0 : EAI_NONAME, 0};
    }
    return SystemLookup(host);
}

THostLookupScope::THostLookupScope(THostLookup lookup) : FScope(LookupHook(), std::move(lookup)) {}

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

bool TWASTool::ResolveHostIP(const std::string& host, std::string& ip)
{
    // An empty name is no host; never hand it to the resolver.
    if (host.empty())
        return false;
    const THostAddress found = LookupHostIPv4(host);
    if (!found.Address)
        return false;
    ip = *found.Address;
    return true;
}
