#pragma once
// Looks many host names up at once, each lookup on a thread of its own and at
// most a bounded number in flight, so that a plan of many names takes about
// as long as its slowest lookups and the thread that asked goes on meanwhile.
// A run's lookups are the system's own (TWASTool of vqlib/Vqnet.h, over
// getaddrinfo), so a name resolves as it always did; such a lookup cannot be
// cut short, so one that is abandoned ends on its own, on a thread nobody
// waits for.

#include <sys/socket.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class THostResolution {
public:
    // 200 names that each answer after 100 ms take 0.4 s at this bound.
    static constexpr int kMaxInFlight = 64;

    // One lookup; called from several threads at once, and it may still run
    // after the resolution was abandoned: it must own what it uses.
    using TLookup = std::function<std::optional<std::string>(const std::string& host)>;
    using TAddresses = std::vector<std::optional<std::string>>;
    // The system's own lookup (TWASTool): a name's first IPv4 address, else
    // its first IPv6 one; with AF_INET or AF_INET6, only an address of that
    // family. It owns what it uses.
    static TLookup SystemLookup(int family = AF_UNSPEC);
    using TDone = std::function<void(TAddresses addresses)>;

    // UI thread. Starts looking names up; done gets their addresses, in the
    // order of names, on the UI thread through the installed executor
    // (engine/Uiexecutor.h) unless the resolution was abandoned first.
    // Without an executor, or when no thread can be started, the names are
    // looked up here, one after another, and done runs before this returns.
    THostResolution(std::vector<std::string> names, TLookup lookup, TDone done, int maxInFlight = kMaxInFlight);
    // Abandons.
    ~THostResolution();
    THostResolution(const THostResolution&) = delete;
    THostResolution& operator=(const THostResolution&) = delete;

    // UI thread. done will not be called; lookups in progress are not waited
    // for and their answers are dropped.
    void Abandon();

private:
    struct TState;
    std::shared_ptr<TState> FState;
};
