#include "cli/Metricsserver.h"

#include "cli/Climetrics.h"
#include "vqlib/Vqstring.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace {

const char* const kPlainText = "text/plain; charset=utf-8";
const char* const kAllowed = "GET, HEAD";

struct TSocketAddress {
    sockaddr_storage Storage{};
    socklen_t Length = 0;
};

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
    TSocketAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.Storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.Storage);
    if (inet_pton(AF_INET, literal.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.Length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, literal.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.Length = sizeof(sockaddr_in6);
    } else {
        throw std::runtime_error("bad listen address '" + host + "': not an IPv4 or IPv6 address");
    }
    return address;
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
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address.Storage), address.Length) != 0 || listen(fd, 64) != 0) {
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

}  // namespace

struct TMetricsServer::TShelf : TLatestRun {};

namespace {

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
MHD_Result Answer(void* latestRun, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, size_t* /*uploadDataSize*/,
                  void** /*requestState*/)
{
    try {
        return Respond(static_cast<TLatestRun*>(latestRun), connection, url, method);
    } catch (...) {  // nothing may unwind through the library; the client is dropped
        return MHD_NO;
    }
}

}  // namespace

TMetricsServer::TMetricsServer(const std::string& host, uint16_t port, const TMetricsServerLimits& limits)
    : FShelf(std::make_unique<TShelf>())
{
    const int fd = ListeningSocket(host, port);
    FPort = BoundPort(fd);
    // One thread of the library's own polls every connection.
    FDaemon = MHD_start_daemon(MHD_USE_AUTO_INTERNAL_THREAD, 0, nullptr, nullptr, &Answer, static_cast<TLatestRun*>(FShelf.get()),
                               MHD_OPTION_LISTEN_SOCKET, fd,
                               MHD_OPTION_CONNECTION_LIMIT, limits.Connections,
                               MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.ConnectionsPerAddress,
                               MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.MemoryPerConnection,
                               MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.IdleTimeout.count()),
                               MHD_OPTION_END);
    if (!FDaemon)  // the socket is left open: the library may have closed it already
        throw std::runtime_error("cannot serve on " + Shown(host, FPort) + ": the HTTP server did not start");
}

TMetricsServer::~TMetricsServer()
{
    MHD_stop_daemon(FDaemon);  // joins its thread and closes the listening socket
}

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
