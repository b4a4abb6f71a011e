#pragma once
// Socket-library start-up and host-name resolution. Every name the program
// resolves goes through LookupHostAddress: the test run's, the DNS socket
// layer's, orvel-cli's.

#include "vqlib/Vqhook.h"

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The address a host is measured at, in numeric form: its first IPv4 address,
// else its first IPv6 address, so that a name with both keeps measuring what
// it measured before IPv6 was known. On failure no address and the reason as
// a getaddrinfo code (EAI_*, with errno for EAI_SYSTEM).
struct THostAddress {
    std::optional<std::string> Address;
    int Error = 0;
    int SystemError = 0;
};

// A host that holds a zero byte is no name: it is never looked up. family
// AF_INET or AF_INET6 keeps to addresses of that family only.
THostAddress LookupHostAddress(const std::string& host, int family = AF_UNSPEC);

// Of a host's addresses in the order the system gives them, the one
// LookupHostAddress takes; none when the list holds no numeric address (of
// family, unless AF_UNSPEC).
std::optional<std::string> PreferredAddress(const std::vector<std::string>& addresses, int family = AF_UNSPEC);

// A measurement target typed as an address, measured as it stands with no
// lookup: IPv4 in a form inet_addr takes ("127.0.0.1", "127.1", "0x7f.1"),
// other than 255.255.255.255, which inet_addr cannot tell from a failure; or
// IPv6 in numeric form ("::1", "fe80::1%lo"), bare, or also in the brackets
// of a web address ("[::1]") when brackets are allowed. A zero byte, where
// the C functions would stop reading, makes it no address.
enum class TBrackets { Refused, Allowed };
bool IsTargetLiteral(const std::string& text, TBrackets brackets = TBrackets::Refused);
// An IPv6 address in numeric form ("::1", "fe80::1%lo"); brackets not included.
bool IsIPv6Literal(const std::string& text);

// A socket address from a strict literal: inet_pton's IPv4 dotted quad or its
// IPv6 form, with no zone, no brackets and no zero byte; none for any other
// text. For an endpoint the user names, where a name or a loose form would
// open something else than meant.
struct TSocketAddress {
    sockaddr_storage Storage{};
    socklen_t Length = 0;
    const sockaddr* Address() const { return reinterpret_cast<const sockaddr*>(&Storage); }
    int Family() const { return Storage.ss_family; }
};
std::optional<TSocketAddress> StrictSocketAddress(const std::string& literal, uint16_t port);
// AF_INET or AF_INET6 for a literal StrictSocketAddress takes, else AF_UNSPEC.
int StrictAddressFamily(const std::string& literal);

// Replaces the system's lookup for one scope (tests: no name server may be
// asked); a failure it reports reads as a name that does not exist. The
// single-address form answers with one address; the list form with every
// address of the host, IPv4 and IPv6 in the system's order. A run calls it
// from several threads at once, and a lookup that a run abandoned may still
// be running after the scope: it must own what it uses.
using THostLookup = std::function<std::optional<std::string>(const std::string& host)>;
using THostAddressesLookup = std::function<std::vector<std::string>(const std::string& host)>;

class THostLookupScope {
public:
    explicit THostLookupScope(THostLookup lookup);
    explicit THostLookupScope(THostAddressesLookup lookup);

private:
    THookScope<THostAddressesLookup> FScope;
};

class TWASTool {
public:
    TWASTool();
    virtual ~TWASTool();
    // True and ip set to the host's first IPv4 address, else its first IPv6
    // address, in numeric form (of family only, unless AF_UNSPEC); ip
    // untouched on failure. Any thread may call it.
    bool ResolveHostIP(const std::string& host, std::string& ip, int family = AF_UNSPEC);

    static bool Started();  // the process-wide flag
};
