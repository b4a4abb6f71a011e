#pragma once
// The /metrics endpoint of orvel-cli --watch --listen: the latest completed
// run, for a scraper such as Prometheus.
//
// Served by libmicrohttpd rather than cpp-httplib: a C library that answers
// every client from one polling thread (epoll, driven by a thread of ours),
// with a bound on connections, a memory limit per connection that the request
// line and headers must fit in, and an idle timeout per connection. A client
// that connects and says nothing, or sends a huge or endless request, costs
// one slot for a few seconds and never a thread of ours or the measuring.
//
// Slow clients give way to new ones. A connection that has not sent a whole
// request is closed when its deadline passes; and while more connections are
// open than the shares leave room for (a quarter of all kept free, a share
// per address), those that owe a request are closed oldest first, each once
// it has had a first chance to send it. However many clients trickle or say
// nothing, a scrape that sends its request at once is answered.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct TMetricsServerLimits {
    unsigned Connections = 32;  // open at once; more wait in the listen queue
    // From one client address. A client beyond it is refused when all of its
    // address's connections are being answered.
    unsigned ConnectionsPerAddress = 16;
    size_t MemoryPerConnection = 16 * 1024;  // a request that does not fit is refused
    std::chrono::seconds IdleTimeout{10};  // a connection silent this long is closed
    // The request line and headers must be in this soon after the connection
    // opened or was last answered, however steadily they trickle in.
    std::chrono::milliseconds RequestDeadline{5000};
    // How long a connection may owe its request before it gives way to
    // others. Short, for the clients in the listen queue pass through the
    // free connections at this pace; long enough for a request sent with
    // the connection to come in.
    std::chrono::milliseconds FirstChance{25};
};

class TMetricsServer {
public:
    // Binds at once; throws std::runtime_error with a clear reason (address
    // in use, bad address). host: IPv4 or IPv6 literal (brackets allowed) or
    // localhost; port 0 = any free port.
    TMetricsServer(const std::string& host, uint16_t port, const TMetricsServerLimits& limits = {});
    ~TMetricsServer();
    TMetricsServer(const TMetricsServer&) = delete;
    TMetricsServer& operator=(const TMetricsServer&) = delete;

    uint16_t Port() const { return FPort; }

    // The latest completed run, in both flavours; thread-safe; served from
    // then on. Never waits for a client.
    void Publish(std::string openMetrics, std::string prometheusText);

private:
    struct TShelf;     // the latest run, shared with the serving thread
    struct TEndpoint;  // the library's daemon, the serving thread and its connections

    std::unique_ptr<TShelf> FShelf;
    uint16_t FPort = 0;
    std::unique_ptr<TEndpoint> FEndpoint;
};

// Whether an Accept header asks for the OpenMetrics text ("q=0" refuses it).
bool WantsOpenMetrics(std::string_view accept);
