#include "tests/support/Slowclients.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <stdexcept>

namespace {

using TClock = std::chrono::steady_clock;

const char kRequestLine[] = "GET /metrics HTTP/1.1\r\n";

sockaddr_in Loopback(const std::string& address, uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &result.sin_addr) != 1)
        throw std::invalid_argument("not an IPv4 address: " + address);
    return result;
}

}  // namespace

struct TSlowClients::TSlot {
    sockaddr_in From{};
    int Fd = -1;
    bool Connecting = false;
    TClock::time_point NextByte{};
};

TSlowClients::TSlowClients(const TOptions& options) : FOptions(options)
{
    for (const std::string& from : options.From)
        for (unsigned i = 0; i < options.PerAddress; ++i)
            FSlots.push_back({Loopback(from, 0), -1, false, {}});
    FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWake < 0)
        throw std::runtime_error("no eventfd");
    FThread = std::thread([this] { Run(); });
}

TSlowClients::~TSlowClients()
{
    const uint64_t stop = 1;
    while (write(FWake, &stop, sizeof stop) < 0 && errno == EINTR) {
    }
    FThread.join();
    for (TSlot& slot : FSlots)
        if (slot.Fd >= 0)
            close(slot.Fd);
    close(FWake);
}

bool TSlowClients::WaitConnected(unsigned long connections, std::chrono::milliseconds wait)
{
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, wait, [&] { return FConnected >= connections; });
}

unsigned long TSlowClients::Dropped() const
{
    std::lock_guard lock(FMutex);
    return FDropped;
}

void TSlowClients::Open(TSlot& slot)
{
    slot.Fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (slot.Fd < 0)
        return;  // tried again on the next round
    // The port is chosen at connect, per destination: thousands of
    // connections from one address do not run out of ports to bind.
    const int on = 1;
    setsockopt(slot.Fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
    const sockaddr_in server = Loopback("127.0.0.1", FOptions.Port);
    if (bind(slot.Fd, reinterpret_cast<const sockaddr*>(&slot.From), sizeof slot.From) != 0 ||
        (connect(slot.Fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 && errno != EINPROGRESS)) {
        close(slot.Fd);
        slot.Fd = -1;
        return;
    }
    slot.Connecting = true;
}

void TSlowClients::Established(TSlot& slot)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(slot.Fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        close(slot.Fd);
        slot.Fd = -1;
        return;
    }
    slot.Connecting = false;
    if (FOptions.Manner == TManner::Trickling) {
        send(slot.Fd, kRequestLine, sizeof kRequestLine - 1, MSG_NOSIGNAL);
        slot.NextByte = TClock::now() + FOptions.ByteEvery;
    }
    std::lock_guard lock(FMutex);
    ++FConnected;
    FChanged.notify_all();
}

void TSlowClients::Lost(TSlot& slot)
{
    close(slot.Fd);
    slot.Fd = -1;
    std::lock_guard lock(FMutex);
    ++FDropped;
}

void TSlowClients::Trickle(TSlot& slot, TClock::time_point now)
{
    if (FOptions.Manner != TManner::Trickling || slot.Connecting || now < slot.NextByte)
        return;
    send(slot.Fd, "x", 1, MSG_NOSIGNAL);  // a header name that never ends
    slot.NextByte = now + FOptions.ByteEvery;
}

int TSlowClients::WaitMilliseconds(TClock::time_point now) const
{
    auto next = now + std::chrono::milliseconds(100);  // sockets that could not be opened are tried again
    for (const TSlot& slot : FSlots)
        if (FOptions.Manner == TManner::Trickling && slot.Fd >= 0 && !slot.Connecting)
            next = std::min(next, slot.NextByte);
    return static_cast<int>(std::clamp<long long>(
        std::chrono::ceil<std::chrono::milliseconds>(next - now).count(), 0, INT_MAX));
}

void TSlowClients::Run()
{
    std::vector<pollfd> watched;
    for (;;) {
        for (TSlot& slot : FSlots)
            if (slot.Fd < 0)
                Open(slot);
        watched.assign(1, {FWake, POLLIN, 0});
        for (const TSlot& slot : FSlots)
            watched.push_back({slot.Fd, static_cast<short>(slot.Connecting ? POLLOUT : POLLIN), 0});
        if (poll(watched.data(), watched.size(), WaitMilliseconds(TClock::now())) < 0 && errno != EINTR)
            return;
        if (watched[0].revents != 0)
            return;
        const TClock::time_point now = TClock::now();
        for (size_t i = 0; i < FSlots.size(); ++i) {
            TSlot& slot = FSlots[i];
            const short events = watched[i + 1].revents;
            if (slot.Fd < 0 || events == 0) {
                if (slot.Fd >= 0)
                    Trickle(slot, now);
                continue;
            }
            if (slot.Connecting) {
                Established(slot);
                continue;
            }
            char discarded[512];
            const ssize_t n = recv(slot.Fd, discarded, sizeof discarded, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN) || (events & (POLLHUP | POLLERR)))
                Lost(slot);
        }
    }
}
