#pragma once
// The /metrics endpoint of orvel-cli --watch --listen: the latest completed
// run, for a scraper such as Prometheus.
//
// Served by libmicrohttpd rather than cpp-httplib: a C library that answers
// every client from one polling thread (epoll), with its own bound on
// connections in all and per client address, a memory limit per connection
// that the request line and headers must fit in, and an idle timeout per
// connection. A client that connects and says nothing, or sends a huge or
// endless request, costs one slot for a few seconds and never a thread of
// ours or the measuring.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct MHD_Daemon;

struct TMetricsServerLimits {
    unsigned Connections = 32;           // open at once; more wait in the listen queue
    unsigned ConnectionsPerAddress = 16;  // from one client address
    size_t MemoryPerConnection = 16 * 1024;  // a request that does not fit is refused
    std::chrono::seconds IdleTimeout{10};  // a connection silent this long is closed
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
    struct TShelf;  // the latest run, shared with the server's thread

    std::unique_ptr<TShelf> FShelf;
    uint16_t FPort = 0;
    MHD_Daemon* FDaemon = nullptr;
};

// Whether an Accept header asks for the OpenMetrics text ("q=0" refuses it).
bool WantsOpenMetrics(std::string_view accept);
