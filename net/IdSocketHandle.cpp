#include "net/IdSocketHandle.h"

#include "net/IdException.h"
#include "net/IdStack.h"

TIdSocketHandle::~TIdSocketHandle()
{
    CloseSocket();
}

void TIdSocketHandle::AllocateSocket()
{
    CloseSocket();
    int handle = FStack.CreateSocket();
    if (handle == Id_INVALID_SOCKET)
        throw EIdInvalidSocket();
    FHandle = handle;
    FIsOpen = true;
}

void TIdSocketHandle::CloseSocket()
{
    if (!FIsOpen)
        return;
    FStack.Close(FHandle);
    FHandle = -1;
    FIsOpen = false;
}
