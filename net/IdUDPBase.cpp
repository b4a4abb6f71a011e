#include "net/IdUDPBase.h"

#include "net/IdException.h"
#include "net/IdStack.h"

#include <algorithm>

TIdUDPBase::~TIdUDPBase()
{
    SetActive(false);
}

bool TIdUDPBase::Active() const
{
    return FBinding && FBinding->IsOpen();
}

void TIdUDPBase::SetActive(bool active)
{
    if (active)
        EnsureSocket();
    else
        FBinding.reset();
}

TIdSocketHandle& TIdUDPBase::EnsureSocket(int family)
{
    if (!FBinding)
        FBinding = std::make_unique<TIdSocketHandle>(Stack());
    // A peer of the other family needs a socket of its own; one of any family
    // will do for a receive.
    if (FBinding->IsOpen() && family != AF_UNSPEC && FBinding->Family() != family)
        FBinding->CloseSocket();
    if (!FBinding->IsOpen()) {
        FBinding->AllocateSocket(family == AF_UNSPEC ? AF_INET : family);
        Stack().CheckResult(Stack().SetBroadcast(FBinding->Handle(), FBroadcastEnabled));
    }
    return *FBinding;
}

bool TIdUDPBase::WaitReadable(int32_t timeout)
{
    if (!FBinding || !FBinding->IsOpen())
        throw EIdConnClosedGracefully();
    // A failed wait reads as "nothing arrived"; the caller sees a time-out.
    const bool limited = timeout >= 0;
    if (!FAbort || (!limited && timeout != IdTimeoutInfinite))
        return Stack().WaitForRead(FBinding->Handle(), timeout) == 1;
    return WaitReadableOrAbort(FBinding->Handle(), timeout);
}

bool TIdUDPBase::WaitReadableOrAbort(int handle, int32_t timeout)
{
    using namespace std::chrono;
    const bool limited = timeout != IdTimeoutInfinite;
    const auto deadline = steady_clock::now() + milliseconds(limited ? timeout : 0);
    for (;;) {
        if (FAbort->load())
            return false;
        auto slice = kAbortSlice;
        if (limited)
            slice = std::min(slice, std::max(milliseconds(0), ceil<milliseconds>(deadline - steady_clock::now())));
        const int ready = Stack().WaitForRead(handle, static_cast<int32_t>(slice.count()));
        if (ready != 0)
            return ready == 1;
        if (limited && slice < kAbortSlice)
            return false;  // that was the last slice
    }
}

std::string TIdUDPBase::ReceivePacket(int32_t timeout)
{
    if (timeout == IdTimeoutDefault)
        timeout = FReceiveTimeout;
    TIdSocketHandle& binding = EnsureSocket();
    if (!WaitReadable(timeout)) {
        binding.PeerIP.clear();
        binding.PeerPort = 0;
        return std::string();
    }
    std::string buffer(static_cast<size_t>(FBufferSize > 0 ? FBufferSize : 0), '\0');
    int received = Stack().ReceiveFrom(binding.Handle(), buffer, binding.PeerIP, binding.PeerPort);
    Stack().CheckResult(received);
    if (received == 0)
        throw EIdUDPReceiveErrorZeroBytes();
    buffer.resize(static_cast<size_t>(received));
    return buffer;
}

void TIdUDPBase::SendBuffer(const std::string& host, int port, const std::string& bytes)
{
    std::string address = Stack().ResolveAddress(host);
    TIdSocketHandle& binding = EnsureSocket(TIdStack::FamilyOf(address));
    int sent = Stack().SendTo(binding.Handle(), bytes, address, port);
    if (sent == Id_SOCKET_ERROR) {
        if (Stack().LastError() == Id_WSAEMSGSIZE)
            throw EIdPackageSizeTooBig();
        Stack().CheckResult(sent);
    }
    if (sent != static_cast<int>(bytes.size()))
        throw EIdNotAllBytesSent();
}

void TIdUDPBase::DiscardPending()
{
    if (Active())
        Stack().DiscardPending(FBinding->Handle());
}
