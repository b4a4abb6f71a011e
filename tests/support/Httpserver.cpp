#include "tests/support/Httpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>

namespace {

int ListenOnLoopback(uint16_t& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 || listen(fd, 256) < 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) < 0) {
        close(fd);
        throw std::runtime_error("bind/listen on loopback");
    }
    port = ntohs(address.sin_port);
    return fd;
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

THttpServer::THttpServer()
{
    FListen = ListenOnLoopback(FPort);
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
}

std::string THttpServer::HostPort() const { return "127.0.0.1:" + std::to_string(FPort); }

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
            if (FStopping || (errno != EINTR && errno != ECONNABORTED))
                return;
            continue;
        }
        std::lock_guard lock(FMutex);
        FConnections.emplace_back(&THttpServer::Serve, this, fd);
    }
}

void THttpServer::Serve(int fd)
{
    std::string head;
    char chunk[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 5000) <= 0)
            break;
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            break;
        head.append(chunk, static_cast<size_t>(got));
    }
    const size_t end = head.find("\r\n\r\n");
    if (end == std::string::npos) {
        close(fd);
        return;
    }
    head.resize(end);
    {
        std::lock_guard lock(FMutex);
        FRequests.push_back(head);
    }
    // "GET /path HTTP/1.1" (or an absolute URI through a proxy)
    const size_t pathStart = head.find(' ') + 1;
    const std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
    const TResponse response = ResponseFor(path);
    if (response.DelayMs > 0 && WaitClientGone(fd, std::chrono::milliseconds(response.DelayMs))) {
        close(fd);
        return;
    }

    std::string reply = "HTTP/1.1 " + std::to_string(response.Status) + " " + ReasonOf(response.Status) + "\r\n";
    if (!response.Endless)
        reply += "Content-Length: " + std::to_string(response.BodySize) + "\r\n";
    if (!response.Location.empty())
        reply += "Location: " + response.Location + "\r\n";
    reply += "Connection: close\r\n\r\n";
    if (SendSome(fd, reply.data(), reply.size()) && SendBody(fd, response) && response.StallBody) {
        while (!WaitClientGone(fd, std::chrono::milliseconds(kStopCheckMs))) {
        }
    }
    shutdown(fd, SHUT_WR);
    // Drain until the client closes, so it sees our end of the body cleanly.
    pollfd pfd{fd, POLLIN, 0};
    while (!FStopping && poll(&pfd, 1, 1000) > 0 && recv(fd, chunk, sizeof chunk, 0) > 0) {
    }
    close(fd);
}

bool THttpServer::SendBody(int fd, const TResponse& response)
{
    const bool partial = response.CutBody || response.StallBody;
    const size_t toSend = response.Endless ? SIZE_MAX : partial ? response.BodySize / 2 : response.BodySize;
    if (response.DripBytesPerSecond > 0) {
        const auto interval = std::chrono::microseconds(1000000 / response.DripBytesPerSecond);
        for (size_t sent = 0; sent < toSend; ++sent) {
            if (!SendSome(fd, "x", 1) || WaitClientGone(fd, interval))
                return false;
        }
        return true;
    }
    const std::string block(64 * 1024, 'x');
    for (size_t sent = 0; sent < toSend; sent += block.size()) {
        if (!SendSome(fd, block.data(), std::min(block.size(), toSend - sent)))
            return false;
        // Endless, but not a flood that keeps both cores busy.
        if (response.Endless && WaitClientGone(fd, std::chrono::milliseconds(1)))
            return false;
    }
    return true;
}

bool THttpServer::SendSome(int fd, const char* data, size_t size)
{
    while (size > 0) {
        if (FStopping)
            return false;
        pollfd pfd{fd, POLLOUT, 0};
        if (poll(&pfd, 1, kStopCheckMs) <= 0)
            continue;
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool THttpServer::WaitClientGone(int fd, std::chrono::microseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (FStopping)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now() + std::chrono::microseconds(999));
        if (left.count() <= 0)
            return false;
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(std::min<long>(left.count(), kStopCheckMs))) <= 0)
            continue;
        char scrap[4096];
        const ssize_t got = recv(fd, scrap, sizeof scrap, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
}
