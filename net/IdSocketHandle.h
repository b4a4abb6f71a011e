#pragma once
// One datagram socket of a client: opened on first use, kept until freed.

#include <sys/socket.h>

#include <string>

class TIdStack;

class TIdSocketHandle {
public:
    explicit TIdSocketHandle(TIdStack& stack) : FStack(stack) {}
    ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    // Raises EIdInvalidSocket when the platform gives no socket.
    void AllocateSocket(int family = AF_INET);
    // Shuts the send side down and closes; results are ignored.
    void CloseSocket();
    // Connects the open socket to ip:port unless it already is; raises
    // EIdSocketError when the platform refuses.
    void ConnectTo(const std::string& ip, int port);

    int Handle() const { return FHandle; }
    bool IsOpen() const { return FIsOpen; }
    int Family() const { return FFamily; }

    std::string IP;  // local side: never bound on this path
    int Port = 0;
    std::string PeerIP;  // sender of the last datagram received
    int PeerPort = 0;

private:
    TIdStack& FStack;
    int FHandle = -1;
    bool FIsOpen = false;
    int FFamily = AF_INET;
    std::string FConnectedIP;  // empty while not connected
    int FConnectedPort = 0;
};
