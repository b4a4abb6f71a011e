#pragma once
// TCP sockets listening on loopback at a free port, for servers of the tests
// and for tries that only connect.

#include <sys/socket.h>

#include <cstdint>

// Listens on 127.0.0.1 (::1 for AF_INET6) and sets port; throws
// std::runtime_error when it cannot.
int ListenOnLoopback(uint16_t& port, int family = AF_INET);

// One such socket, nobody accepting: connections to it are established by
// the kernel alone. Closed by Close or when destroyed, after which nobody
// listens at the port. Port() is 0 when it could not listen (no IPv6 here).
class TListener {
public:
    explicit TListener(int family = AF_INET);
    ~TListener() { Close(); }
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;

    void Close();
    uint16_t Port() const { return FPort; }

private:
    int FSocket = -1;
    uint16_t FPort = 0;
};
