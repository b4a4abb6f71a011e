#include "vqlib/Vqnet.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>

namespace {

// The socket library's start-up state, shared by every TWASTool. Linux has
// nothing to start, so start-up always succeeds.
std::atomic<bool> SocketsStarted{false};

std::mutex LookupLock;
TWASTool::THostLookup HostLookup;

std::optional<std::string> SystemLookup(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    addrinfo* answer = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &answer) != 0 || answer == nullptr)
        return std::nullopt;
    std::optional<std::string> dotted;
    if (answer->ai_family == AF_INET && answer->ai_addr != nullptr) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
        char text[INET_ADDRSTRLEN];
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
            dotted = text;
    }
    ::freeaddrinfo(answer);
    return dotted;
}

}  // namespace

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

void TWASTool::SetHostLookup(THostLookup lookup)
{
    std::lock_guard guard(LookupLock);
    HostLookup = std::move(lookup);
}

bool TWASTool::ResolveHostIP(const std::string& host, std::string& ip)
{
    // An empty name is no host; never hand it to the resolver.
    if (host.empty())
        return false;
    THostLookup lookup;
    {
        std::lock_guard guard(LookupLock);
        lookup = HostLookup;
    }
    const auto address = lookup ? lookup(host) : SystemLookup(host);
    if (!address)
        return false;
    ip = *address;
    return true;
}
