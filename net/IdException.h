#pragma once
// The error family of the socket and DNS classes. Each class carries a fixed
// English message; the DNS method catches them all and fails the try.

#include <stdexcept>
#include <string>

class EIdException : public std::runtime_error {
public:
    explicit EIdException(const std::string& message) : std::runtime_error(message) {}
};

class EIdSilentException : public EIdException {
    using EIdException::EIdException;
};

class EIdStackError : public EIdException {
    using EIdException::EIdException;
};

class EIdSocketHandleError : public EIdException {
    using EIdException::EIdException;
};

class EIdUDPException : public EIdException {
    using EIdException::EIdException;
};

class EIdStackCanNotLoadWinsock : public EIdException {
public:
    explicit EIdStackCanNotLoadWinsock(const std::string& library);
};

class EIdStackInitializationFailed : public EIdStackError {
public:
    EIdStackInitializationFailed();
};

class EIdInvalidSocket : public EIdException {
public:
    // systemError: the errno of the failed call, 0 when unknown.
    explicit EIdInvalidSocket(int systemError = 0);
    int SystemError() const { return FSystemError; }

private:
    int FSystemError;
};

// Raised for a failed platform call; Code is the Winsock-style error number.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int code, const std::string& message);
    int Code() const { return FCode; }

private:
    int FCode;
};

class EIdPackageSizeTooBig : public EIdSocketHandleError {
public:
    EIdPackageSizeTooBig();
};

class EIdNotAllBytesSent : public EIdSocketHandleError {
public:
    EIdNotAllBytesSent();
};

class EIdUDPReceiveErrorZeroBytes : public EIdUDPException {
public:
    EIdUDPReceiveErrorZeroBytes();
};

class EIdConnClosedGracefully : public EIdSilentException {
public:
    EIdConnClosedGracefully();
};

// Raised by the resolver's own checks; the message names the check.
class EIdDnsResolverError : public EIdException {
    using EIdException::EIdException;
};
