#pragma once
// Socket-library start-up and host-name resolution. Every name the program
// resolves goes through LookupHostIPv4: the test run's, the DNS socket
// layer's, orvel-cli's.

#include "vqlib/Vqhook.h"

#include <functional>
#include <optional>
#include <string>

// The first IPv4 address of a host in dotted form; on failure no address and
// the reason as a getaddrinfo code (EAI_*, with errno for EAI_SYSTEM).
struct THostAddress {
    std::optional<std::string> Address;
    int Error = 0;
    int SystemError = 0;
};

THostAddress LookupHostIPv4(const std::string& host);

// Replaces the system's lookup for one scope (tests: no name server may be
// asked); a failure it reports reads as a name that does not exist. A run
// calls it from several threads at once, and a lookup that a run abandoned
// may still be running after the scope: it must own what it uses.
using THostLookup = std::function<std::optional<std::string>(const std::string& host)>;

class THostLookupScope {
public:
    explicit THostLookupScope(THostLookup lookup);

private:
    THookScope<THostLookup> FScope;
};

class TWASTool {
public:
    TWASTool();
    virtual ~TWASTool();
    // True and ip set to the first IPv4 address in dotted form; ip untouched on
    // failure. Any thread may call it.
    bool ResolveHostIP(const std::string& host, std::string& ip);

    static bool Started();  // the process-wide flag
};
