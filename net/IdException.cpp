#include "net/IdException.h"

EIdStackCanNotLoadWinsock::EIdStackCanNotLoadWinsock(const std::string& library)
    : EIdException(library + " could not be loaded.")
{
}

EIdStackInitializationFailed::EIdStackInitializationFailed()
    : EIdStackError("Winsock Initialization Error.")
{
}

EIdInvalidSocket::EIdInvalidSocket(int systemError)
    : EIdException("Cannot allocate socket."), FSystemError(systemError)
{
}

EIdSocketError::EIdSocketError(int code, const std::string& message)
    : EIdException(message), FCode(code)
{
}

EIdPackageSizeTooBig::EIdPackageSizeTooBig() : EIdSocketHandleError("Package Size Too Big.") {}

EIdNotAllBytesSent::EIdNotAllBytesSent() : EIdSocketHandleError("Not all bytes sent.") {}

EIdUDPReceiveErrorZeroBytes::EIdUDPReceiveErrorZeroBytes()
    : EIdUDPException("UDP Receive Error = 0.")
{
}

EIdConnClosedGracefully::EIdConnClosedGracefully()
    : EIdSilentException("Connection Closed Gracefully.")
{
}
