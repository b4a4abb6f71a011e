#include "engine/Pingchannel.h"

#include "engine/Shortage.h"
#include "vqlib/Vqtick.h"

#include <algorithm>
#include <cstring>

namespace {

// Replies are read between sends too: a burst of requests to loopback is
// answered before the loop would read again, and would fill the buffer.
constexpr unsigned kSendsBetweenDrains = 32;

std::chrono::milliseconds Milliseconds(int32_t timeout) { return std::chrono::milliseconds(std::max(timeout, 0)); }

bool IsTarget(const sockaddr_storage& peer, const sockaddr_in6& target)
{
    sockaddr_storage whole{};
    std::memcpy(&whole, &target, sizeof target);
    return SameAddress(peer, whole);
}

}  // namespace

TPingChannel::TPingChannel(TTryLoop& loop, int family) : FLoop(loop), FFamily(family) {}

TPingChannel::~TPingChannel()
{
    if (FEcho && FEcho->IsOpen())
        FLoop.Unwatch(FEcho->Socket());
}

bool TPingChannel::EnsureOpen()
{
    if (FEcho && FEcho->IsOpen())
        return true;
    // A socket that could not be opened is tried again by the next try: a
    // descriptor may have become free meanwhile.
    FEcho = std::make_unique<TIcmpEcho>(TIcmpEcho::TKind::Any, FFamily);
    if (!FEcho->IsOpen())
        return false;
    FEcho->EnlargeReceiveBuffer(kReceiveBuffer);
    if (!FLoop.Watch(FEcho->Socket(), [this] { Drain(); })) {
        FEcho.reset();
        return false;
    }
    return true;
}

bool TPingChannel::FreeSequence(uint16_t& sequence)
{
    // Sequence numbers go round, skipping those still in flight.
    for (size_t tried = 0; tried <= 0xFFFF; ++tried) {
        const uint16_t candidate = FNextSequence++;
        if (!FPending.count(candidate)) {
            sequence = candidate;
            return true;
        }
    }
    return false;
}

void TPingChannel::FailSoon(TDone done, TProbeDone probeDone, const TTryOutcome& outcome)
{
    FLoop.AddTimer(TTryLoop::TTime{}, nullptr, [done = std::move(done), probeDone = std::move(probeDone), outcome] {
        if (!probeDone) {
            done(outcome);
            return;
        }
        TProbeAnswer failed;
        failed.Kind = TProbeAnswer::TKind::Failed;
        failed.Failure = outcome;
        probeDone(failed);
    });
}

void TPingChannel::Start(const sockaddr_storage& target, socklen_t targetLength, const void* data, size_t size,
                         int32_t timeout, const std::atomic<bool>* abort, TDone done)
{
    Begin(target, targetLength, data, size, 0, timeout, abort, std::move(done), nullptr);
}

void TPingChannel::Probe(const sockaddr_storage& target, socklen_t targetLength, const void* data, size_t size,
                         int hopLimit, int32_t timeout, const std::atomic<bool>* abort, TProbeDone done)
{
    Begin(target, targetLength, data, size, std::clamp(hopLimit, 1, 255), timeout, abort, nullptr, std::move(done));
}

void TPingChannel::Begin(const sockaddr_storage& target, socklen_t targetLength, const void* data, size_t size,
                         int hopLimit, int32_t timeout, const std::atomic<bool>* abort, TDone done,
                         TProbeDone probeDone)
{
    TTryOutcome failed;
    failed.Cause = TTryCause::Other;
    if (!EnsureOpen()) {
        failed.Denied = FEcho && FEcho->Denied();
        if (FEcho && IsShortageError(FEcho->SystemError()))
            failed.Shortage = FEcho->SystemError();
        failed.Cause = failed.Denied ? TTryCause::Denied : failed.Shortage ? TTryCause::Shortage : TTryCause::Other;
        FEcho.reset();
        FailSoon(std::move(done), std::move(probeDone), failed);
        return;
    }
    uint16_t sequence = 0;
    if (!FreeSequence(sequence)) {
        failed.Shortage = ENOBUFS;
        failed.Cause = TTryCause::Shortage;
        FailSoon(std::move(done), std::move(probeDone), failed);
        return;
    }
    TPending& pending = FPending[sequence];
    std::memcpy(&pending.To, &target, std::min<size_t>(targetLength, sizeof pending.To));
    pending.Data = data;
    pending.Size = size;
    pending.Done = std::move(done);
    pending.ProbeDone = std::move(probeDone);
    pending.Sent = CurrentClock().Now();
    pending.Abort = abort;
    if (!FEcho->Send(target, targetLength, sequence, data, size, hopLimit)) {
        if (IsShortageError(FEcho->SystemError()))
            failed.Shortage = FEcho->SystemError();
        failed.Cause = CauseOfError(FEcho->SystemError());
        TDone later = std::move(pending.Done);
        TProbeDone probeLater = std::move(pending.ProbeDone);
        FPending.erase(sequence);
        FailSoon(std::move(later), std::move(probeLater), failed);
        return;
    }
    pending.Timer = FLoop.AddTimer(std::chrono::steady_clock::now() + Milliseconds(timeout), abort,
                                   [this, sequence, abort] {
                                       TTryOutcome unanswered;
                                       unanswered.Cause = CauseAtDeadline(abort);
                                       End(sequence, unanswered, TProbeAnswer{});
                                   });
    if (++FSentSinceDrain >= kSendsBetweenDrains)
        Drain();
}

void TPingChannel::Drain()
{
    FSentSinceDrain = 0;
    if (!FEcho)
        return;
    for (;;) {
        TIcmpEcho::TAnswer answer;
        const TIcmpEcho::TRead read = FEcho->ReadOne(answer);
        if (read == TIcmpEcho::TRead::Nothing)
            return;
        if (read != TIcmpEcho::TRead::Other)
            Answered(read, answer);
    }
}

void TPingChannel::Answered(TIcmpEcho::TRead read, const TIcmpEcho::TAnswer& answer)
{
    const auto found = FPending.find(answer.Sequence);
    if (found == FPending.end() || !IsTarget(answer.Peer, found->second.To))
        return;  // for a try that has ended, or not ours at all
    const TPending& pending = found->second;
    TTryOutcome outcome;
    TProbeAnswer probe;
    const auto elapsed = CurrentClock().Now() - pending.Sent;
    probe.From = answer.From;
    probe.Elapsed = elapsed;
    if (read == TIcmpEcho::TRead::Reply) {
        if (answer.Size != pending.Size || std::memcmp(answer.Data, pending.Data, pending.Size) != 0)
            return;
        outcome.Ok = true;
        outcome.Elapsed = elapsed;
        probe.Kind = TProbeAnswer::TKind::Reply;
    } else {
        outcome.Cause = TTryCause::Unreachable;  // an ICMP error about the request
        probe.Kind = answer.Error == TIcmpEcho::TError::TimeExceeded ? TProbeAnswer::TKind::TimeExceeded
                                                                     : TProbeAnswer::TKind::Unreachable;
    }
    FLoop.CancelTimer(pending.Timer);
    End(answer.Sequence, outcome, probe);
}

void TPingChannel::End(uint16_t sequence, const TTryOutcome& outcome, const TProbeAnswer& probe)
{
    const auto found = FPending.find(sequence);
    if (found == FPending.end())
        return;
    TDone done = std::move(found->second.Done);
    TProbeDone probeDone = std::move(found->second.ProbeDone);
    FPending.erase(found);
    if (probeDone)
        probeDone(probe);
    else
        done(outcome);
}
