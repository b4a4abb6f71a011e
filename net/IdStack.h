#pragma once
// The process-wide socket stack: started by the first component, stopped by
// the last, and the thin layer over the platform's datagram calls.

#include <sys/time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

// Error numbers as the messages are keyed by (Winsock numbering); platform
// errno values are mapped onto them so texts read the same everywhere.
enum : int {
    Id_WSAEINTR = 10004,
    Id_WSAEBADF = 10009,
    Id_WSAEACCES = 10013,
    Id_WSAEFAULT = 10014,
    Id_WSAEINVAL = 10022,
    Id_WSAEMFILE = 10024,
    Id_WSAEWOULDBLOCK = 10035,
    Id_WSAEMSGSIZE = 10040,
    Id_WSAECONNRESET = 10054,
    Id_WSAETIMEDOUT = 10060,
    Id_WSAECONNREFUSED = 10061,
    Id_WSAEHOSTUNREACH = 10065,
    Id_WSAENOTEMPTY = 10066,
    Id_WSAHOST_NOT_FOUND = 11001,
    Id_WSATRY_AGAIN = 11002,
    Id_WSANO_RECOVERY = 11003,
    Id_WSANO_DATA = 11004,
};

constexpr int Id_SOCKET_ERROR = -1;
constexpr int Id_INVALID_SOCKET = -1;

class TIdStack {
public:
    virtual ~TIdStack() = default;
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    const std::string& Name() const { return FName; }

    // Platform calls. Those returning int give Id_SOCKET_ERROR on failure,
    // with the error number available from LastError() on the same thread.
    // A datagram socket of the family (AF_INET, AF_INET6) of the peer it is for.
    virtual int CreateSocket(int family) = 0;
    virtual int SetBroadcast(int handle, bool enabled) = 0;
    // Ties the socket to one peer: only its datagrams are received from then on.
    virtual int Connect(int handle, const std::string& ip, int port) = 0;
    virtual int SendTo(int handle, const std::string& bytes, const std::string& ip, int port) = 0;
    // 1 when readable, 0 on time-out, Id_SOCKET_ERROR on failure.
    virtual int WaitForRead(int handle, int32_t timeout) = 0;
    // Receives one datagram into buffer (its size is the limit); a datagram
    // that does not fit fails with Id_WSAEMSGSIZE.
    virtual int ReceiveFrom(int handle, std::string& buffer, std::string& peerIP, int& peerPort) = 0;
    // Throws away whatever is waiting on the socket, errors included.
    virtual void DiscardPending(int handle) = 0;
    virtual void Close(int handle) = 0;
    // The first IPv4 address of host, else its first IPv6 one (LookupHostAddress, vqlib/Vqnet.h).
    virtual std::optional<std::string> LookupHost(const std::string& host) = 0;
    virtual int LastError() const = 0;

    // LOCALHOST in any case, a dotted quad (StrictAddressFamily, vqlib/Vqnet.h)
    // or an IPv6 address as it is, else the address LookupHost gives; a failed
    // lookup raises EIdSocketError.
    std::string ResolveAddress(const std::string& host);
    // AF_INET for a dotted quad, AF_INET6 for an IPv6 address, else AF_UNSPEC.
    static int FamilyOf(const std::string& ip);
    // Raises EIdSocketError for Id_SOCKET_ERROR, with the last error number.
    void CheckResult(int result) const;
    [[noreturn]] static void RaiseSocketError(int code);
    static std::string SocketErrorText(int code);
    static int ErrorFromErrno(int error);
    // The wait of a timeout in milliseconds; none for -2 (no limit).
    static std::optional<timeval> TimeLimit(int32_t timeout);

    // The process-wide instance and its user count, changed under one lock.
    static TIdStack& Acquire();
    static void Release();
    static int UserCount();
    static bool Started();

protected:
    explicit TIdStack(std::string name) : FName(std::move(name)) {}

private:
    std::string FName;
};

// BSD sockets; nothing to load or start on this platform.
class TIdStackBSD : public TIdStack {
public:
    TIdStackBSD();
    int CreateSocket(int family) override;
    int SetBroadcast(int handle, bool enabled) override;
    int Connect(int handle, const std::string& ip, int port) override;
    int SendTo(int handle, const std::string& bytes, const std::string& ip, int port) override;
    int WaitForRead(int handle, int32_t timeout) override;
    int ReceiveFrom(int handle, std::string& buffer, std::string& peerIP, int& peerPort) override;
    void DiscardPending(int handle) override;
    void Close(int handle) override;
    std::optional<std::string> LookupHost(const std::string& host) override;
    int LastError() const override;
};
