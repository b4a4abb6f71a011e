#pragma once
// A datagram client talking to one peer, Host:Port.

#include "net/IdUDPBase.h"

#include <cstdint>
#include <string>

class TIdUDPClient : public TIdUDPBase {
public:
    std::string Host;  // host name or dotted IPv4 address
    int32_t Port = 0;

    void SendPacket(const std::string& bytes) { SendBuffer(Host, Port, bytes); }
};
