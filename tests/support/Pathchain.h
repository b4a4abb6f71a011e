#pragma once
// A path of routers for path tests: from the calling thread's network
// namespace (a test's own, "the host") through routers 1..N to a
// destination, each a network namespace of its own joined to the next by a
// veth pair, IPv4 and IPv6, forwarding on and ICMP errors never rate limited.
//
// Link i (0-based, from node i to node i+1; the host is node 0, the
// destination node N+1) is 10.77.i.0/24 and fd77:0:0:i::/64, the left node
// .1 (::1), the right one .2 (::2). A router's time-exceeded errors come from
// its address on the link towards the host.
//
// Needs root (ip netns, nft). Everything made is removed by the destructor,
// also after a failed set-up.

#include <string>
#include <vector>

struct TPathChainSetup {
    int Routers = 3;
    int SilentRouter = 0;  // 1-based router that sends no time-exceeded errors; 0: none
    bool SilentDestination = false;  // the destination answers no echo requests
    int RejectingRouter = 0;  // 1-based router that forwards no echo request, answering it unreachable; 0: none
};

class TPathChain {
public:
    explicit TPathChain(const TPathChainSetup& setup = {});
    ~TPathChain();
    TPathChain(const TPathChain&) = delete;
    TPathChain& operator=(const TPathChain&) = delete;

    bool Ok() const { return FOk; }
    const std::string& Why() const { return FWhy; }  // what failed, when not Ok

    int Hops() const { return FRouters + 1; }
    // The address answering at hop (1..Hops()) from the host; family AF_INET or AF_INET6.
    std::string HopAddress(int hop, int family) const;
    std::string Destination(int family) const { return HopAddress(Hops(), family); }

private:
    bool Build(const TPathChainSetup& setup);
    bool MakeNamespaces();
    bool SetSysctls();
    bool JoinNodes();
    bool SetNodesUp();
    bool Route();
    bool Silence(const TPathChainSetup& setup);
    bool Warm(const TPathChainSetup& setup);
    bool Reject(const TPathChainSetup& setup);
    void Remove();
    // Runs ip commands in the namespace of node (0: the host), as one batch.
    bool Ip(int node, const std::vector<std::string>& commands);
    bool Fail(const std::string& why);
    const std::string& NamespaceOf(int node) const { return FNamespaces[static_cast<size_t>(node - 1)]; }
    int Nodes() const { return FRouters + 2; }

    int FRouters = 0;
    bool FOk = false;
    std::string FWhy;
    std::string FHostLink;  // the host's end of link 0, in the host's namespace
    std::vector<std::string> FNamespaces;  // of nodes 1..N+1, as made so far
};
