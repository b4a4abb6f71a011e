#pragma once
// A datagram client talking to one peer, Host:Port.

#include "net/IdStack.h"
#include "net/IdUDPBase.h"

#include <cstdint>
#include <string>
#include <utility>

class TIdUDPClient : public TIdUDPBase {
public:
    // A host name, dotted IPv4 address or IPv6 address.
    const std::string& Host() const { return FHost; }
    void SetHost(std::string host) { FHost = std::move(host); }
    int32_t Port() const { return FPort; }
    void SetPort(int32_t port) { FPort = port; }

    // The socket is connected to Host:Port first, so that a datagram from
    // any other address or port is never taken for the peer's answer.
    void SendPacket(const std::string& bytes)
    {
        const std::string address = Stack().ResolveAddress(FHost);
        EnsureSocket(TIdStack::FamilyOf(address)).ConnectTo(address, FPort);
        SendBuffer(address, FPort, bytes);
    }

private:
    std::string FHost;
    int32_t FPort = 0;
};
