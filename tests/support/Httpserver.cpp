#include "tests/support/Httpserver.h"

#include "tests/support/Listener.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>

namespace {

SSL_CTX* Tls(void* context) { return static_cast<SSL_CTX*>(context); }

SSL_CTX* MakeTlsContext(const std::string& certificate, const std::string& key)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context)
        throw std::runtime_error("SSL_CTX_new");
    if (SSL_CTX_use_certificate_chain_file(context, certificate.c_str()) != 1
        || SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(context);
        throw std::runtime_error("cannot load " + certificate + " or " + key);
    }
    // Sends may be cut short and taken up again from a moved buffer.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return context;
}

constexpr int kStopCheckMs = 50;  // how soon a waiting connection sees the server stop

const char* ReasonOf(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    default: return "Status";
    }
}

}  // namespace

// A plain or TLS connection; the socket is non-blocking, so a read or write
// that cannot go on returns -1 with errno EAGAIN in either case.
struct THttpServer::TConnection {
    int Fd = -1;
    SSL* Ssl = nullptr;

    ~TConnection()
    {
        if (Ssl) {
            if (SSL_is_init_finished(Ssl))
                SSL_shutdown(Ssl);
            SSL_free(Ssl);
        }
        close(Fd);
    }
    ssize_t Read(char* data, size_t size)
    {
        if (!Ssl)
            return recv(Fd, data, size, MSG_DONTWAIT);
        const int got = SSL_read(Ssl, data, static_cast<int>(size));
        return got > 0 ? got : Failed(got);
    }
    ssize_t Write(const char* data, size_t size)
    {
        if (!Ssl)
            return send(Fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        const int sent = SSL_write(Ssl, data, static_cast<int>(size));
        return sent > 0 ? sent : Failed(sent);
    }
    // Waits at most ms for something to read (data TLS already holds counts).
    bool WaitReadable(int ms) const
    {
        if (Ssl && SSL_pending(Ssl) > 0)
            return true;
        pollfd pfd{Fd, POLLIN, 0};
        return poll(&pfd, 1, ms) > 0;
    }

private:
    ssize_t Failed(int result)
    {
        const int error = SSL_get_error(Ssl, result);
        if (error == SSL_ERROR_ZERO_RETURN)
            return 0;
        errno = error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? EAGAIN : EIO;
        ERR_clear_error();
        return -1;
    }
};

THttpServer::THttpServer() : THttpServer(TOptions{}) {}

THttpServer::THttpServer(const TOptions& options) : FOptions(options)
{
    // TLS writes to a socket the client may have closed: no SIGPIPE for that.
    static const bool ignored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)ignored;
    if (!options.CertificateFile.empty())
        FTls = MakeTlsContext(options.CertificateFile, options.KeyFile);
    try {
        FListen = ListenOnLoopback(FPort, options.Family);
    } catch (...) {
        if (FTls)
            SSL_CTX_free(Tls(FTls));
        throw;
    }
    FAcceptor = std::thread(&THttpServer::AcceptLoop, this);
}

THttpServer::~THttpServer()
{
    FStopping = true;
    shutdown(FListen, SHUT_RDWR);
    FAcceptor.join();
    close(FListen);
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(FMutex);
        connections.swap(FConnections);
    }
    for (auto& connection : connections)
        connection.join();
    if (FTls)
        SSL_CTX_free(Tls(FTls));
}

std::string THttpServer::HostPort() const
{
    return (FOptions.Family == AF_INET6 ? "[::1]:" : "127.0.0.1:") + std::to_string(FPort);
}

std::string THttpServer::Url() const { return (FTls ? "https://" : "http://") + HostPort(); }

void THttpServer::SetResponse(const TResponse& response)
{
    std::lock_guard lock(FMutex);
    FDefault = response;
}

void THttpServer::SetResponseFor(const std::string& path, const TResponse& response)
{
    std::lock_guard lock(FMutex);
    FByPath[path] = response;
}

std::vector<std::string> THttpServer::Requests() const
{
    std::lock_guard lock(FMutex);
    return FRequests;
}

std::string THttpServer::HeaderValue(const std::string& head, const std::string& name)
{
    size_t line = head.find("\r\n");
    while (line != std::string::npos) {
        line += 2;
        const size_t end = head.find("\r\n", line);
        const std::string text = head.substr(line, end == std::string::npos ? std::string::npos : end - line);
        const size_t colon = text.find(':');
        if (colon == name.size() && strncasecmp(text.c_str(), name.c_str(), name.size()) == 0) {
            size_t value = colon + 1;
            while (value < text.size() && text[value] == ' ')
                ++value;
            return text.substr(value);
        }
        line = end;
    }
    return "";
}

uint16_t THttpServer::RefusedPort()
{
    uint16_t port = 0;
    close(ListenOnLoopback(port));
    return port;
}

THttpServer::TResponse THttpServer::ResponseFor(const std::string& path) const
{
    std::lock_guard lock(FMutex);
    const auto found = FByPath.find(path);
    return found != FByPath.end() ? found->second : FDefault;
}

void THttpServer::AcceptLoop()
{
    while (!FStopping) {
        const int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (FStopping)
                return;
            // A test that uses up the process's descriptors: the client
            // waits in the backlog until one is free again.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            else if (errno != EINTR && errno != ECONNABORTED)
                return;
            continue;
        }
        std::lock_guard lock(FMutex);
        FConnections.emplace_back(&THttpServer::Serve, this, fd);
    }
}

void THttpServer::Serve(int fd)
{
    TConnection connection;
    connection.Fd = fd;
    // Small writes (a TLS record, a head) go out at once, not after the client's delayed ACK.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (FTls) {
        // The handshake waits at most this long for a client that says nothing.
        const timeval limit{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        connection.Ssl = SSL_new(Tls(FTls));
        if (!connection.Ssl || SSL_set_fd(connection.Ssl, fd) != 1 || SSL_accept(connection.Ssl) != 1) {
            ERR_clear_error();  // a client that refused our certificate, most likely
            return;
        }
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    Answer(connection);
}

void THttpServer::Answer(TConnection& connection)
{
    std::string head;
    char chunk[4096];
    const auto headDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (head.find("\r\n\r\n") == std::string::npos) {
        // A client busy with many connections may send its head late.
        if (std::chrono::steady_clock::now() > headDeadline || FStopping)
            break;
        if (!connection.WaitReadable(kStopCheckMs))
            continue;
        const ssize_t got = connection.Read(chunk, sizeof chunk);
        if (got < 0 && errno == EAGAIN)
            continue;
        if (got <= 0)
            break;
        head.append(chunk, static_cast<size_t>(got));
    }
    const size_t end = head.find("\r\n\r\n");
    if (end == std::string::npos)
        return;
    head.resize(end);
    {
        std::lock_guard lock(FMutex);
        FRequests.push_back(head);
    }
    // "GET /path HTTP/1.1" (or an absolute URI through a proxy)
    const size_t pathStart = head.find(' ') + 1;
    const std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
    const TResponse response = ResponseFor(path);
    if (response.DelayMs > 0 && WaitClientGone(connection, std::chrono::milliseconds(response.DelayMs)))
        return;

    std::string reply = "HTTP/1.1 " + std::to_string(response.Status) + " " + ReasonOf(response.Status) + "\r\n";
    if (!response.Endless)
        reply += "Content-Length: " + std::to_string(response.BodySize) + "\r\n";
    if (!response.Location.empty())
        reply += "Location: " + response.Location + "\r\n";
    reply += "Connection: close\r\n\r\n";
    if (SendSome(connection, reply.data(), reply.size()) && SendBody(connection, response) && response.StallBody) {
        while (!WaitClientGone(connection, std::chrono::milliseconds(kStopCheckMs))) {
        }
    }
    if (!connection.Ssl)
        shutdown(connection.Fd, SHUT_WR);
    // Drain until the client closes, so it sees our end of the body cleanly.
    for (int round = 0; !FStopping && round < 20 && connection.WaitReadable(1000); ++round) {
        const ssize_t got = connection.Read(chunk, sizeof chunk);
        if (got == 0 || (got < 0 && errno != EAGAIN))
            break;
    }
}

bool THttpServer::SendBody(TConnection& connection, const TResponse& response)
{
    const bool partial = response.CutBody || response.StallBody;
    const size_t toSend = response.Endless ? SIZE_MAX : partial ? response.BodySize / 2 : response.BodySize;
    if (response.DripBytesPerSecond > 0) {
        const auto interval = std::chrono::microseconds(1000000 / response.DripBytesPerSecond);
        for (size_t sent = 0; sent < toSend; ++sent) {
            if (!SendSome(connection, "x", 1) || WaitClientGone(connection, interval))
                return false;
        }
        return true;
    }
    const std::string block(64 * 1024, 'x');
    for (size_t sent = 0; sent < toSend; sent += block.size()) {
        if (!SendSome(connection, block.data(), std::min(block.size(), toSend - sent)))
            return false;
        // Endless, but not a flood that keeps both cores busy.
        if (response.Endless && WaitClientGone(connection, std::chrono::milliseconds(1)))
            return false;
    }
    return true;
}

bool THttpServer::SendSome(TConnection& connection, const char* data, size_t size)
{
    while (size > 0) {
        if (FStopping)
            return false;
        pollfd pfd{connection.Fd, POLLOUT, 0};
        if (poll(&pfd, 1, kStopCheckMs) <= 0)
            continue;
        const ssize_t sent = connection.Write(data, size);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool THttpServer::WaitClientGone(TConnection& connection, std::chrono::microseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (FStopping)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now() + std::chrono::microseconds(999));
        if (left.count() <= 0)
            return false;
        if (!connection.WaitReadable(static_cast<int>(std::min<long>(left.count(), kStopCheckMs))))
            continue;
        char scrap[4096];
        const ssize_t got = connection.Read(scrap, sizeof scrap);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
}
