#pragma once
// A datagram client talking to one peer, Host:Port.

#include "net/IdStack.h"
#include "net/IdUDPBase.h"

#include <cstdint>
#include <string>

class TIdUDPClient : public TIdUDPBase {
public:
    std::string Host;  // host name, dotted IPv4 address or IPv6 address
    int32_t Port = 0;

    // The socket is connected to Host:Port first, so that a datagram from
    // any other address or port is never taken for the peer's answer.
    void SendPacket(const std::string& bytes)
    {
        const std::string address = Stack().ResolveAddress(Host);
        EnsureSocket(TIdStack::FamilyOf(address)).ConnectTo(address, Port);
        SendBuffer(address, Port, bytes);
    }
};
