#pragma once
// A datagram socket with a receive side: one socket per component, opened on
// first use and kept, so late datagrams wait on it for the next receive.

#include "net/IdComponent.h"
#include "net/IdSocketHandle.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <sys/socket.h>

// Receive timeouts: milliseconds (0 or more), or one of these.
constexpr int32_t IdTimeoutDefault = -1;   // use ReceiveTimeout
constexpr int32_t IdTimeoutInfinite = -2;  // wait without limit

class TIdUDPBase : public TIdComponent {
public:
    TIdUDPBase() = default;
    ~TIdUDPBase() override;

    // The largest datagram a receive takes.
    int32_t BufferSize() const { return FBufferSize; }
    void SetBufferSize(int32_t size) { FBufferSize = size; }
    // Milliseconds, or IdTimeoutInfinite; what IdTimeoutDefault stands for.
    int32_t ReceiveTimeout() const { return FReceiveTimeout; }
    void SetReceiveTimeout(int32_t timeout) { FReceiveTimeout = timeout; }
    // Applied when the socket is opened.
    bool BroadcastEnabled() const { return FBroadcastEnabled; }
    void SetBroadcastEnabled(bool enabled) { FBroadcastEnabled = enabled; }

    bool Active() const;
    void SetActive(bool active);

    // How long a wait may go on unaware of the abort flag.
    static constexpr std::chrono::milliseconds kAbortSlice{20};

    // A wait in progress ends, as a time-out, within kAbortSlice of *abort
    // turning true; nullptr: never cut short.
    void SetAbortFlag(const std::atomic<bool>* abort) { FAbort = abort; }

    // Opens the socket when it is not, for a peer of family (AF_UNSPEC: any;
    // an open socket of another family is replaced).
    TIdSocketHandle& EnsureSocket(int family = AF_UNSPEC);
    bool WaitReadable(int32_t timeout);
    // One datagram, or empty when none arrived in time.
    std::string ReceivePacket(int32_t timeout = IdTimeoutDefault);
    void SendBuffer(const std::string& host, int port, const std::string& bytes);
    // Throws away datagrams and errors already waiting on an open socket.
    void DiscardPending();

    // The socket object, or nullptr before the first use.
    const TIdSocketHandle* Binding() const { return FBinding.get(); }

private:
    bool WaitReadableOrAbort(int handle, int32_t timeout);

    int32_t FBufferSize = 8192;
    int32_t FReceiveTimeout = IdTimeoutInfinite;
    bool FBroadcastEnabled = false;
    std::unique_ptr<TIdSocketHandle> FBinding;
    const std::atomic<bool>* FAbort = nullptr;
};
