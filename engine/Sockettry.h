#pragma once
// What a try that waits on a socket of its own on the try loop has in
// common, whatever it sends: the socket watched, a deadline, and an end that
// cancels both and hands the outcome on exactly once.

#include "engine/Tryloop.h"
#include "engine/Tryoutcome.h"
#include "vqlib/Vqnet.h"
#include "vqlib/Vqtick.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// address at port as a socket address, numeric only, never a lookup; the
// zone of a link-local IPv6 address kept. None for any other text.
std::optional<TSocketAddress> NumericSocketAddress(const std::string& address, uint16_t port);

// Made with new on the loop's thread and only used there; it deletes itself
// when it ends.
class TSocketTry {
public:
    using TDone = std::function<void(const TTryOutcome& outcome)>;

    TSocketTry(const TSocketTry&) = delete;
    TSocketTry& operator=(const TSocketTry&) = delete;

protected:
    TSocketTry(TTryLoop& loop, TDone done) : FLoop(loop), FDone(std::move(done)) {}
    virtual ~TSocketTry();

    // A non-blocking socket of family and type; false with errno.
    bool OpenSocket(int family, int type);
    // ready runs whenever the socket is ready for events; false with errno.
    bool WatchSocket(std::function<void()> ready, uint32_t events = EPOLLIN);
    // The try ends at timeout ms from now, or soon after *abort turns true.
    void StartDeadline(int32_t timeout, const std::atomic<bool>* abort);
    // Why a try that met its deadline failed.
    virtual TTryCause CauseAtItsDeadline(const std::atomic<bool>* abort) const;

    // From within Start: the outcome is handed on on a later turn of the
    // loop, as done must not run before Start returns.
    void EndSoon(const TTryOutcome& outcome);
    // The same for a system call that failed with error.
    void FailSoon(int error);
    // Hands outcome on now; this is gone afterwards.
    void End(const TTryOutcome& outcome);

    int Socket() const { return FSocket; }
    std::chrono::microseconds Elapsed() const { return FWatch.Elapsed(); }

private:
    void CloseSocket();
    void CancelDeadline();

    TTryLoop& FLoop;
    TDone FDone;
    const TStopwatch FWatch;
    int FSocket = -1;
    TTryLoop::TTimerId FTimer = 0;
};
