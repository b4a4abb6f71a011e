#include "net/IdSocketHandle.h"

#include "net/IdException.h"
#include "net/IdStack.h"

#include <cerrno>

TIdSocketHandle::~TIdSocketHandle()
{
    CloseSocket();
}

void TIdSocketHandle::AllocateSocket(int family)
{
    CloseSocket();
    int handle = FStack.CreateSocket(family);
    if (handle == Id_INVALID_SOCKET)
        throw EIdInvalidSocket(errno);
    FHandle = handle;
    FFamily = family;
    FIsOpen = true;
}

void TIdSocketHandle::CloseSocket()
{
    if (!FIsOpen)
        return;
    FStack.Close(FHandle);
    FHandle = -1;
    FIsOpen = false;
    FConnectedIP.clear();
    FConnectedPort = 0;
}

void TIdSocketHandle::ConnectTo(const std::string& ip, int port)
{
    if (FConnectedIP == ip && FConnectedPort == port)
        return;
    FStack.CheckResult(FStack.Connect(FHandle, ip, port));
    FConnectedIP = ip;
    FConnectedPort = port;
}
