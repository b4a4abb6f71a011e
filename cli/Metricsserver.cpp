#include "cli/Metricsserver.h"

#include "cli/Climetrics.h"
#include "vqlib/Vqnet.h"
#include "vqlib/Vqstring.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>

namespace {

const char* const kPlainText = "text/plain; charset=utf-8";
const char* const kAllowed = "GET, HEAD";

std::string WithoutBrackets(const std::string& host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

// Literals only: a name would ask the resolver, and an endpoint bound to
// whatever a name server says is not what the user meant to open.
TSocketAddress ListenAddress(const std::string& host, uint16_t port)
{
    const std::string literal = host == "localhost" ? "127.0.0.1" : WithoutBrackets(host);
    if (std::optional<TSocketAddress> address = StrictSocketAddress(literal, port))
        return *address;
    throw std::runtime_error("bad listen address '" + host + "': not an IPv4 or IPv6 address");
}

std::string Shown(const std::string& host, uint16_t port)
{
    const std::string literal = WithoutBrackets(host);
    if (literal.find(':') != std::string::npos)
        return "[" + literal + "]:" + std::to_string(port);
    return literal + ":" + std::to_string(port);
}

// Bound here rather than by the library, so that a failure names its cause
// ("Address already in use") instead of a bare "could not start".
int ListeningSocket(const std::string& host, uint16_t port)
{
    const TSocketAddress address = ListenAddress(host, port);
    const int fd = socket(address.Storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw std::runtime_error("cannot listen on " + Shown(host, port) + ": " + std::strerror(errno));
    // Lets a restarted probe take its port back while old connections linger
    // in TIME_WAIT; a port someone listens on stays refused.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // A long queue: clients beyond the connection limit wait there in turn,
    // where a short one would drop a scrape's handshake behind a crowd of
    // reconnecting clients and cost it a second before it tries again.
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address.Storage), address.Length) != 0 ||
        listen(fd, SOMAXCONN) != 0) {
        const int error = errno;
        close(fd);
        throw std::runtime_error("cannot listen on " + Shown(host, port) + ": " + std::strerror(error));
    }
    return fd;
}

uint16_t BoundPort(int fd)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return 0;
    if (storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

bool SameLetters(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// The q of one media range's parameters ("version=1.0.0;q=0.5"); 1 if none.
double Quality(std::string_view parameters)
{
    while (!parameters.empty()) {
        const auto end = parameters.find(';');
        const std::string_view parameter = Trim(parameters.substr(0, end));
        parameters = end == std::string_view::npos ? std::string_view{} : parameters.substr(end + 1);
        if (parameter.size() >= 2 && SameLetters(parameter.substr(0, 2), "q=")) {
            double q = 1;
            const std::string_view value = parameter.substr(2);
            if (std::from_chars(value.data(), value.data() + value.size(), q).ec != std::errc())
                return 1;
            return q;
        }
    }
    return 1;
}

MHD_Result Send(MHD_Connection* connection, unsigned status, std::string_view body, const char* contentType,
                bool negotiated = false)
{
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    if (negotiated)  // caches must not hand one flavour to a client that asked for the other
        MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT);
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, kAllowed);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

struct TLatestRun {
    std::mutex Mutex;
    // Swapped whole by Publish: a client copies from the bodies it took, so
    // the lock is held for two pointer copies, not for a response.
    std::shared_ptr<const std::string> OpenMetrics, PrometheusText;

    std::shared_ptr<const std::string> Body(bool openMetrics)
    {
        std::lock_guard lock(Mutex);
        return openMetrics ? OpenMetrics : PrometheusText;
    }
};

using TClock = std::chrono::steady_clock;

// Who a connection is from, for the share per address: the address without
// its port.
std::string AddressKey(const sockaddr* address)
{
    if (!address)
        return {};
    if (address->sa_family == AF_INET) {
        const in_addr& v4 = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
        return std::string(reinterpret_cast<const char*>(&v4), sizeof v4);
    }
    if (address->sa_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        return std::string(reinterpret_cast<const char*>(&v6), sizeof v6);
    }
    return {};
}

// Every open connection, and which of them still owe a request. Those are
// kept in the order they began to owe it, so that the oldest are found
// first: closed when their deadline passes, and, while more are open than
// the shares leave room for, as soon as they have had their first chance.
// Used by the serving thread only.
class TConnections {
public:
    explicit TConnections(const TMetricsServerLimits& limits)
        : FPerAddress(limits.ConnectionsPerAddress), FDeadline(limits.RequestDeadline),
          FFirstChance(limits.FirstChance)
    {
        const unsigned keptFree = std::max(1u, limits.Connections / 4);
        FRoom = limits.Connections > keptFree ? limits.Connections - keptFree : 0;
    }

    // Refused only when the client's address has its share and every one
    // of those connections is being answered; otherwise an older one that
    // owes its request gives way soon.
    bool Admit(const std::string& address) const
    {
        const auto from = FOpenFrom.find(address);
        if (FPerAddress == 0 || from == FOpenFrom.end() || from->second < FPerAddress)
            return true;
        return std::any_of(FAll.begin(), FAll.end(), [&](const TConnection& connection) {
            return connection.Waiting && !connection.Closing && connection.Address == address;
        });
    }

    void Opened(const MHD_Connection* handle, int fd, std::string address, TClock::time_point now)
    {
        FAll.push_back({fd, std::move(address), now, true, false});
        const auto entry = std::prev(FAll.end());
        try {
            FByHandle.emplace(handle, entry);
            ++FOpenFrom[entry->Address];
        } catch (...) {
            FByHandle.erase(handle);
            FAll.erase(entry);
            throw;
        }
        ++FOpen;
    }

    void RequestIn(const MHD_Connection* handle)
    {
        if (const auto found = FByHandle.find(handle); found != FByHandle.end())
            found->second->Waiting = false;
    }

    // Answered and kept alive: it owes the next request, from now.
    void Answered(const MHD_Connection* handle, TClock::time_point now)
    {
        const auto found = FByHandle.find(handle);
        if (found == FByHandle.end())
            return;
        found->second->Waiting = true;
        found->second->Since = now;
        FAll.splice(FAll.end(), FAll, found->second);
    }

    void Gone(const MHD_Connection* handle)
    {
        ++FClosed;
        const auto found = FByHandle.find(handle);
        if (found == FByHandle.end())
            return;
        if (!found->second->Closing)
            Forget(*found->second);
        FAll.erase(found->second);
        FByHandle.erase(found);
    }

    // How many connections the library has closed so far.
    unsigned long Closed() const { return FClosed; }

    // Closes every connection whose time is up; returns when the next one's
    // will be, as things stand.
    std::optional<TClock::time_point> Sweep(TClock::time_point now)
    {
        std::optional<TClock::time_point> next;
        for (TConnection& connection : FAll) {
            if (!connection.Waiting || connection.Closing)
                continue;
            const bool giveWay = OverShare(connection.Address);
            const TClock::time_point due = connection.Since + (giveWay ? std::min(FFirstChance, FDeadline) : FDeadline);
            if (due <= now) {
                Close(connection);
                continue;
            }
            next = next ? std::min(*next, due) : due;
            if (giveWay || !OverShareAnywhere())
                break;  // those after it began to owe their request later
        }
        return next;
    }

private:
    struct TConnection {
        int Fd;
        std::string Address;
        TClock::time_point Since;  // opened, or last answered
        bool Waiting;              // for the request's headers
        bool Closing;              // shut down by us; the library closes it soon
    };
    using TList = std::list<TConnection>;

    // Whether a connection from this address that owes its request should
    // give way: too many are open in all, or from its address.
    bool OverShare(const std::string& address) const
    {
        if (FOpen > FRoom)
            return true;
        const auto from = FOpenFrom.find(address);
        return FPerAddress != 0 && from != FOpenFrom.end() && from->second > FPerAddress;
    }

    bool OverShareAnywhere() const
    {
        return FOpen > FRoom || (FPerAddress != 0 && std::any_of(FOpenFrom.begin(), FOpenFrom.end(), [&](const auto& from) {
                                     return from.second > FPerAddress;
                                 }));
    }

    // The library sees a peer that hung up, and closes the socket itself,
    // on this thread: the fd is still its own here.
    void Close(TConnection& connection)
    {
        shutdown(connection.Fd, SHUT_RDWR);
        connection.Closing = true;
        Forget(connection);
    }

    // No longer counted against the limits.
    void Forget(const TConnection& connection)
    {
        --FOpen;
        const auto from = FOpenFrom.find(connection.Address);
        if (from != FOpenFrom.end() && --from->second == 0)
            FOpenFrom.erase(from);
    }

    unsigned FPerAddress;
    std::chrono::milliseconds FDeadline;
    std::chrono::milliseconds FFirstChance;
    unsigned FRoom = 0;  // open at once before those that owe a request give way: a quarter stays free
    TList FAll;          // every connection; those that owe a request in the order they began to owe it
    std::unordered_map<const MHD_Connection*, TList::iterator> FByHandle;
    std::unordered_map<std::string, unsigned> FOpenFrom;  // open and not closing, by address
    unsigned FOpen = 0;                                   // open and not closing
    unsigned long FClosed = 0;
};

// The library's daemon in a loop of our own, and the connections it has.
struct TServing {
    TServing(TLatestRun* latest, const TMetricsServerLimits& limits) : Latest(latest), Connections(limits) {}
    TServing(const TServing&) = delete;
    TServing& operator=(const TServing&) = delete;
    ~TServing()
    {
        if (Thread.joinable()) {
            const uint64_t stop = 1;
            while (write(Wake, &stop, sizeof stop) < 0 && errno == EINTR) {
            }
            Thread.join();
        }
        if (Daemon)
            MHD_stop_daemon(Daemon);  // closes every connection and the listening socket
        if (Wake >= 0)
            close(Wake);
    }

    TLatestRun* Latest;
    TConnections Connections;
    MHD_Daemon* Daemon = nullptr;
    int Polled = -1;  // the library's epoll descriptor
    int Wake = -1;    // eventfd: the destructor's word to stop
    std::thread Thread;
};

MHD_Result Respond(TLatestRun* latest, MHD_Connection* connection, const char* url, const char* method)
{
    const std::string_view verb = method;
    if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD)
        return Send(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD are served.\n", kPlainText);
    if (std::string_view(url) != "/metrics")
        return Send(connection, MHD_HTTP_NOT_FOUND, "Not found: the metrics are at /metrics.\n", kPlainText);

    const char* accept = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT);
    const bool openMetrics = accept && WantsOpenMetrics(accept);
    const std::shared_ptr<const std::string> body = latest->Body(openMetrics);
    if (!body)
        return Send(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "No run has completed yet.\n", kPlainText, true);
    return Send(connection, MHD_HTTP_OK, *body, openMetrics ? kOpenMetricsContentType : kPrometheusContentType, true);
}

// Answers as soon as the headers are in: nothing here reads a body, and a
// request with one is answered and its connection closed by the library.
MHD_Result Answer(void* endpoint, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, size_t* /*uploadDataSize*/,
                  void** /*requestState*/)
{
    try {
        auto* served = static_cast<TServing*>(endpoint);
        served->Connections.RequestIn(connection);
        return Respond(served->Latest, connection, url, method);
    } catch (...) {  // nothing may unwind through the library; the client is dropped
        return MHD_NO;
    }
}

MHD_Result Admit(void* endpoint, const sockaddr* address, socklen_t /*length*/)
{
    try {
        return static_cast<TServing*>(endpoint)->Connections.Admit(AddressKey(address)) ? MHD_YES : MHD_NO;
    } catch (...) {
        return MHD_NO;
    }
}

void Track(void* endpoint, MHD_Connection* connection, void** /*socketContext*/, MHD_ConnectionNotificationCode code)
{
    TConnections& connections = static_cast<TServing*>(endpoint)->Connections;
    if (code != MHD_CONNECTION_NOTIFY_STARTED) {
        connections.Gone(connection);
        return;
    }
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const MHD_ConnectionInfo* from = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!fd)
        return;
    try {
        connections.Opened(connection, fd->connect_fd, AddressKey(from ? from->client_addr : nullptr), TClock::now());
    } catch (...) {  // a connection the limits cannot see is not served
        shutdown(fd->connect_fd, SHUT_RDWR);
    }
}

void Answered(void* endpoint, MHD_Connection* connection, void** /*requestState*/, MHD_RequestTerminationCode /*why*/)
{
    static_cast<TServing*>(endpoint)->Connections.Answered(connection, TClock::now());
}

// Until the library or the next request deadline needs the thread; -1 for
// as long as nothing happens.
int WaitMilliseconds(MHD_Daemon* daemon, std::optional<TClock::time_point> deadline)
{
    long long wait = -1;
    MHD_UNSIGNED_LONG_LONG library = 0;
    if (MHD_get_timeout(daemon, &library) == MHD_YES)
        wait = static_cast<long long>(std::min<MHD_UNSIGNED_LONG_LONG>(library, INT_MAX));
    if (deadline) {
        // Rounded up: waking a little early would only spin until it passes.
        const long long left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - TClock::now()).count();
        const long long ours = std::clamp<long long>(left, 0, INT_MAX);
        wait = wait < 0 ? ours : std::min(wait, ours);
    }
    return static_cast<int>(wait);
}

// The library's own loop, but with the request deadlines in it: one thread
// runs every callback and every close, so no socket is shut down after the
// library closed it.
void Serve(TServing& endpoint) noexcept
{
    pollfd watched[2] = {{endpoint.Polled, POLLIN, 0}, {endpoint.Wake, POLLIN, 0}};
    std::optional<TClock::time_point> next;
    bool runAgain = false;
    for (;;) {
        const int wait = runAgain ? 0 : WaitMilliseconds(endpoint.Daemon, next);
        if (poll(watched, 2, wait) < 0 && errno != EINTR)
            return;
        if (watched[1].revents != 0)
            return;
        const unsigned long closedBefore = endpoint.Connections.Closed();
        MHD_run(endpoint.Daemon);
        next = endpoint.Connections.Sweep(TClock::now());
        // At its connection limit the library stops listening, and takes the
        // listening socket up again only on the run after a close.
        runAgain = endpoint.Connections.Closed() != closedBefore;
    }
}

}  // namespace

struct TMetricsServer::TShelf : TLatestRun {};
struct TMetricsServer::TEndpoint : TServing {
    using TServing::TServing;
};

TMetricsServer::TMetricsServer(const std::string& host, uint16_t port, const TMetricsServerLimits& limits)
    : FShelf(std::make_unique<TShelf>())
{
    const int fd = ListeningSocket(host, port);
    FPort = BoundPort(fd);
    auto endpoint = std::make_unique<TEndpoint>(FShelf.get(), limits);
    endpoint->Wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (endpoint->Wake < 0) {
        const int error = errno;
        close(fd);
        throw std::runtime_error("cannot serve on " + Shown(host, FPort) + ": " + std::strerror(error));
    }
    // No limit per address here: the library would refuse a client before
    // Admit could make room for it. Its connection limit stays, and makes
    // the clients beyond it wait in the listen queue.
    TServing* const served = endpoint.get();
    endpoint->Daemon = MHD_start_daemon(MHD_USE_EPOLL, 0, &Admit, served, &Answer, served,
                                        MHD_OPTION_LISTEN_SOCKET, fd,
                                        MHD_OPTION_CONNECTION_LIMIT, limits.Connections,
                                        MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.MemoryPerConnection,
                                        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.IdleTimeout.count()),
                                        MHD_OPTION_NOTIFY_CONNECTION, &Track, served,
                                        MHD_OPTION_NOTIFY_COMPLETED, &Answered, served,
                                        MHD_OPTION_END);
    if (!endpoint->Daemon)  // the socket is left open: the library may have closed it already
        throw std::runtime_error("cannot serve on " + Shown(host, FPort) + ": the HTTP server did not start");
    const MHD_DaemonInfo* polled = MHD_get_daemon_info(endpoint->Daemon, MHD_DAEMON_INFO_EPOLL_FD);
    if (!polled)
        throw std::runtime_error("cannot serve on " + Shown(host, FPort) + ": the HTTP server has no epoll");
    endpoint->Polled = polled->epoll_fd;
    endpoint->Thread = std::thread([served] { Serve(*served); });
    FEndpoint = std::move(endpoint);
}

TMetricsServer::~TMetricsServer() = default;  // the endpoint stops its thread, then the library

void TMetricsServer::Publish(std::string openMetrics, std::string prometheusText)
{
    auto first = std::make_shared<const std::string>(std::move(openMetrics));
    auto second = std::make_shared<const std::string>(std::move(prometheusText));
    std::lock_guard lock(FShelf->Mutex);
    FShelf->OpenMetrics.swap(first);
    FShelf->PrometheusText.swap(second);
}  // the bodies replaced are freed here, after the lock

bool WantsOpenMetrics(std::string_view accept)
{
    while (!accept.empty()) {
        const auto end = accept.find(',');
        const std::string_view range = accept.substr(0, end);
        accept = end == std::string_view::npos ? std::string_view{} : accept.substr(end + 1);
        const auto semicolon = range.find(';');
        const std::string_view type = Trim(range.substr(0, semicolon));
        const std::string_view parameters =
            semicolon == std::string_view::npos ? std::string_view{} : range.substr(semicolon + 1);
        if (SameLetters(type, "application/openmetrics-text") && Quality(parameters) > 0)
            return true;
    }
    return false;
}
