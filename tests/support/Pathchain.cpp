#include "tests/support/Pathchain.h"

#include "tests/support/Netns.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>

extern char** environ;

namespace {

struct TCommandResult {
    bool Ok = false;
    std::string Output;  // standard output and error together
};

// Runs argv with input on its standard input; spawned from the calling
// thread, so in that thread's network namespace.
TCommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input)
{
    TCommandResult result;
    const int inputFd = memfd_create("orvel-chain-input", MFD_CLOEXEC);
    int outputFds[2] = {-1, -1};
    if (inputFd < 0 || pipe2(outputFds, O_CLOEXEC) != 0) {
        result.Output = std::string("cannot make the command's input or output: ") + std::strerror(errno);
        if (inputFd >= 0)
            close(inputFd);
        return result;
    }
    if (write(inputFd, input.data(), input.size()) != static_cast<ssize_t>(input.size()) || lseek(inputFd, 0, SEEK_SET) != 0)
        result.Output = "cannot write the command's input";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputFd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputFds[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = result.Output.empty() ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) : -1;
    posix_spawn_file_actions_destroy(&actions);
    close(inputFd);
    close(outputFds[1]);
    char buffer[4096];
    for (ssize_t got; (got = read(outputFds[0], buffer, sizeof buffer)) > 0;)
        result.Output.append(buffer, static_cast<size_t>(got));
    close(outputFds[0]);
    if (spawned != 0) {
        if (spawned > 0)
            result.Output = "cannot run " + argv[0] + ": " + std::strerror(spawned);
        return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// Runs work on a thread of its own moved into the named namespace; the
// caller's namespace stays as it is.
bool InNamespace(const std::string& name, const std::function<bool()>& work, std::string& why)
{
    bool ok = false;
    std::thread worker([&] {
        const int fd = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
            why = "cannot enter " + name + ": " + std::strerror(errno);
        } else {
            ok = work();
        }
        if (fd >= 0)
            close(fd);
    });
    worker.join();
    return ok;
}

std::string Lines(const std::vector<std::string>& commands)
{
    std::string text;
    for (const std::string& command : commands)
        text += command + "\n";
    return text;
}

std::string Canonical(int family, const std::string& text)
{
    unsigned char address[sizeof(in6_addr)];
    char canonical[INET6_ADDRSTRLEN];
    if (inet_pton(family, text.c_str(), address) != 1 || !inet_ntop(family, address, canonical, sizeof canonical))
        return text;
    return canonical;
}

// The address of the left (side 1) or right (side 2) node on link.
std::string LinkAddress(int link, int side, int family)
{
    if (family == AF_INET6)
        return Canonical(AF_INET6, "fd77:0:0:" + std::to_string(link) + "::" + std::to_string(side));
    return "10.77." + std::to_string(link) + "." + std::to_string(side);
}

std::string Prefix(int link, int family)
{
    return family == AF_INET6 ? LinkAddress(link, 0, AF_INET6) + "/64" : LinkAddress(link, 0, AF_INET) + "/24";
}

std::string AddressCommand(const std::string& device, int link, int side, int family)
{
    const std::string length = family == AF_INET6 ? "/64" : "/24";
    // Without duplicate detection the address works at once.
    return "addr add " + LinkAddress(link, side, family) + length + " dev " + device + (family == AF_INET6 ? " nodad" : "");
}

// The family follows from the addresses.
std::string RouteCommand(const std::string& prefix, const std::string& via)
{
    return "route add " + prefix + " via " + via;
}

// Sysctls each router and the destination have: errors never thinned by the
// rate limits, so fast rounds see every hop.
// Duplicate detection would hold every address, link-local ones too, back
// for a second.
const std::vector<std::pair<std::string, std::string>> kNodeSysctls = {
    {"net/ipv6/conf/all/accept_dad", "0"},
    {"net/ipv6/conf/default/accept_dad", "0"},
    {"net/ipv4/icmp_ratelimit", "0"},
    {"net/ipv4/icmp_ratemask", "0"},
    {"net/ipv6/icmp/ratelimit", "0"},
};

const std::vector<std::pair<std::string, std::string>> kRouterSysctls = {
    {"net/ipv4/ip_forward", "1"},
    {"net/ipv6/conf/all/forwarding", "1"},
};

const std::vector<std::pair<std::string, std::string>> kSilentDestinationSysctls = {
    {"net/ipv4/icmp_echo_ignore_all", "1"},
    {"net/ipv6/icmp/echo_ignore_all", "1"},
};

bool WriteSysctls(const std::vector<std::pair<std::string, std::string>>& sysctls, std::string& why)
{
    for (const auto& [name, value] : sysctls)
        if (!WriteSysctl(name, value)) {
            why = "cannot write " + name;
            return false;
        }
    return true;
}

const char kDropTimeExceeded[] = "table inet orvel_chain {\n"
                                 "  chain out {\n"
                                 "    type filter hook output priority 0; policy accept;\n"
                                 "    icmp type time-exceeded drop\n"
                                 "    icmpv6 type time-exceeded drop\n"
                                 "  }\n"
                                 "}\n";

const char kRejectForwarded[] = "table inet orvel_reject {\n"
                                "  chain forward {\n"
                                "    type filter hook forward priority 0; policy accept;\n"
                                "    meta l4proto { icmp, ipv6-icmp } reject with icmpx type admin-prohibited\n"
                                "  }\n"
                                "}\n";

std::atomic<int> NextChain{0};

}  // namespace

TPathChain::TPathChain(const TPathChainSetup& setup) : FRouters(setup.Routers)
{
    FOk = Build(setup);
    if (!FOk)
        Remove();
}

TPathChain::~TPathChain() { Remove(); }

std::string TPathChain::HopAddress(int hop, int family) const
{
    if (hop < 1 || hop > Hops())
        return {};
    return LinkAddress(hop - 1, 2, family);
}

bool TPathChain::Build(const TPathChainSetup& setup)
{
    if (FRouters < 0 || FRouters > 250)
        return Fail("cannot make a chain of " + std::to_string(FRouters) + " routers");
    return MakeNamespaces() && SetSysctls() && JoinNodes() && SetNodesUp() && Route() && Silence(setup) && Warm(setup)
        && Reject(setup);
}

bool TPathChain::MakeNamespaces()
{
    const int chain = NextChain++;
    const std::string prefix = "orvel-" + std::to_string(getpid()) + "-" + std::to_string(chain) + "-";
    FHostLink = "orvchain" + std::to_string(chain);
    std::vector<std::string> commands;
    for (int node = 1; node < Nodes(); ++node) {
        FNamespaces.push_back(prefix + std::to_string(node));
        commands.push_back("netns add " + FNamespaces.back());
    }
    return Ip(0, commands);
}

// Node i's end "right" and node i+1's end "left"; the host's end has a
// name of its own, for its namespace may hold other links.
bool TPathChain::JoinNodes()
{
    std::vector<std::string> commands{"link add " + FHostLink + " type veth peer name left netns " + NamespaceOf(1)};
    for (int node = 1; node + 1 < Nodes(); ++node)
        commands.push_back("link add right netns " + NamespaceOf(node) + " type veth peer name left netns " + NamespaceOf(node + 1));
    if (!Ip(0, commands))
        return false;
    if (!WriteSysctl("net/ipv6/conf/" + FHostLink + "/accept_dad", "0"))
        return Fail("cannot turn duplicate detection off on " + FHostLink);
    return true;
}

bool TPathChain::SetNodesUp()
{
    for (int node = 0; node < Nodes(); ++node) {
        std::vector<std::string> commands;
        const bool last = node + 1 == Nodes();
        const std::string right = node == 0 ? FHostLink : "right";
        for (int family : {AF_INET, AF_INET6}) {
            if (node > 0)
                commands.push_back(AddressCommand("left", node - 1, 2, family));
            if (!last)
                commands.push_back(AddressCommand(right, node, 1, family));
        }
        if (node > 0)
            commands.insert(commands.end(), {"link set dev lo up", "link set dev left up"});
        if (!last)
            commands.push_back("link set dev " + right + " up");
        if (!Ip(node, commands))
            return false;
    }
    return true;
}

// Before the links are made, so that they are made with them.
bool TPathChain::SetSysctls()
{
    for (int node = 1; node < Nodes(); ++node) {
        std::string why;
        const bool router = node + 1 < Nodes();
        const auto write = [&] { return WriteSysctls(kNodeSysctls, why) && (!router || WriteSysctls(kRouterSysctls, why)); };
        if (!InNamespace(NamespaceOf(node), write, why))
            return Fail(NamespaceOf(node) + ": " + why);
    }
    return true;
}

// Towards the host through the left neighbour, away from it through the
// right one: every link not the node's own gets a route.
bool TPathChain::Route()
{
    for (int node = 0; node < Nodes(); ++node) {
        std::vector<std::string> commands;
        for (int family : {AF_INET, AF_INET6})
            for (int link = 0; link + 1 < Nodes(); ++link) {
                if (link == node || link == node - 1)
                    continue;
                commands.push_back(link < node ? RouteCommand(Prefix(link, family), LinkAddress(node - 1, 1, family))
                                               : RouteCommand(Prefix(link, family), LinkAddress(node, 2, family)));
            }
        if (!Ip(node, commands))
            return false;
    }
    return true;
}

bool TPathChain::Silence(const TPathChainSetup& setup)
{
    std::string why;
    if (setup.SilentRouter >= 1 && setup.SilentRouter <= FRouters) {
        const std::string& name = NamespaceOf(setup.SilentRouter);
        const bool ok = InNamespace(name, [&] {
            const TCommandResult result = RunCommand({"nft", "-f", "-"}, kDropTimeExceeded);
            why = result.Output;
            return result.Ok;
        }, why);
        if (!ok)
            return Fail(name + ": nft: " + why);
    } else if (setup.SilentRouter != 0) {
        return Fail("there is no router " + std::to_string(setup.SilentRouter) + " to silence");
    }
    if (setup.SilentDestination
        && !InNamespace(NamespaceOf(Nodes() - 1), [&] { return WriteSysctls(kSilentDestinationSysctls, why); }, why))
        return Fail("destination: " + why);
    return true;
}

// One echo through the whole chain in each family: it proves the chain and
// settles its neighbours, so that no probe of a test waits for them. IPv6
// neighbours take about a second after the links came up, IPv4 ones none.
bool TPathChain::Warm(const TPathChainSetup& setup)
{
    for (int family : {AF_INET, AF_INET6}) {
        // A silent destination: its neighbour, the last router, still answers.
        const std::string address = setup.SilentDestination ? LinkAddress(FRouters, 1, family) : Destination(family);
        if (setup.SilentDestination && FRouters == 0)
            continue;
        const TCommandResult result = RunCommand({"ping", "-n", "-c", "1", "-W", "5", address}, "");
        if (!result.Ok)
            return Fail("no echo from " + address + " through the chain: " + result.Output);
    }
    return true;
}

// After the warm-up, which goes through the whole chain.
bool TPathChain::Reject(const TPathChainSetup& setup)
{
    if (setup.RejectingRouter == 0)
        return true;
    if (setup.RejectingRouter < 0 || setup.RejectingRouter > FRouters)
        return Fail("there is no router " + std::to_string(setup.RejectingRouter) + " to reject");
    std::string why;
    const std::string& name = NamespaceOf(setup.RejectingRouter);
    const bool ok = InNamespace(name, [&] {
        const TCommandResult result = RunCommand({"nft", "-f", "-"}, kRejectForwarded);
        why = result.Output;
        return result.Ok;
    }, why);
    return ok || Fail(name + ": nft: " + why);
}

// Best effort, each step on its own: whatever a failed set-up left goes too.
// The host's end goes first, at once; a namespace's own links go with it.
void TPathChain::Remove()
{
    std::vector<std::string> commands;
    if (!FHostLink.empty())
        commands.push_back("link del " + FHostLink);
    for (const std::string& name : FNamespaces)
        commands.push_back("netns del " + name);
    FNamespaces.clear();
    FHostLink.clear();
    if (commands.empty())
        return;
    const TCommandResult result = RunCommand({"ip", "-force", "-batch", "-"}, Lines(commands));
    // A host link a failed set-up never made is no leftover.
    if (!result.Ok && result.Output.find("Cannot find device") == std::string::npos)
        std::fprintf(stderr, "TPathChain: removing the chain: %s\n", result.Output.c_str());
}

bool TPathChain::Ip(int node, const std::vector<std::string>& commands)
{
    if (commands.empty())
        return true;
    std::vector<std::string> argv{"ip"};
    if (node > 0)
        argv.insert(argv.end(), {"-n", NamespaceOf(node)});
    argv.insert(argv.end(), {"-batch", "-"});
    const TCommandResult result = RunCommand(argv, Lines(commands));
    if (!result.Ok)
        return Fail((node > 0 ? NamespaceOf(node) : std::string("host")) + ": ip: " + result.Output);
    return true;
}

bool TPathChain::Fail(const std::string& why)
{
    if (FWhy.empty())
        FWhy = why;
    return false;
}
