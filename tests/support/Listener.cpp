#include "tests/support/Listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <stdexcept>

int ListenOnLoopback(uint16_t& port, int family)
{
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        length = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *v4;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) < 0 || listen(fd, 256) < 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) < 0) {
        close(fd);
        throw std::runtime_error("bind/listen on loopback");
    }
    port = family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                              : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return fd;
}

TListener::TListener(int family)
{
    try {
        FSocket = ListenOnLoopback(FPort, family);
    } catch (const std::runtime_error&) {
        FPort = 0;
    }
}

void TListener::Close()
{
    if (FSocket >= 0)
        close(FSocket);
    FSocket = -1;
}
