#include "engine/Pathtrace.h"

#include "engine/Icmpecho.h"
#include "engine/Pingchannel.h"
#include "engine/Tryloop.h"
#include "vqlib/Vqnet.h"

#include <netdb.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// The request's data: with the headers, a packet of 64 bytes, as is usual
// for a path probe.
constexpr size_t kDataSize = 36;

socklen_t LengthOf(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

}  // namespace

struct TPathTrace::TState : std::enable_shared_from_this<TState> {
    using TAnswer = TPingChannel::TProbeAnswer;

    struct THopFigures {
        std::vector<sockaddr_storage> Addresses;
        unsigned Sent = 0;  // settled: answered or given up
        unsigned Awaiting = 0;
        unsigned Received = 0;
        std::chrono::microseconds Last{0};
        std::chrono::microseconds Best{0};
        std::chrono::microseconds Worst{0};
        double Mean = 0;
        double SquaredDeviations = 0;  // Welford's running sum
    };

    TState(const TPathSetup& setup, TUpdate update) : Setup(setup), Update(std::move(update))
    {
        Setup.MaxHops = std::clamp(Setup.MaxHops, 1, 255);
        Setup.Rounds = std::max(Setup.Rounds, 1);
        Hops.resize(static_cast<size_t>(Setup.MaxHops));
        for (size_t i = 0; i < kDataSize; ++i)
            Data[i] = static_cast<unsigned char>('0' + i % 64);
    }

    TPathSetup Setup;
    std::mutex UpdateMutex;
    TUpdate Update;  // emptied when the trace is destroyed
    std::atomic<bool> Abort{false};
    TTryLoop* Loop = nullptr;  // held until the trace has ended

    // The loop's thread only.
    struct TRound {
        TTryLoop::TTime Start{};
        int Limit = 0;    // hops to send to, as known when it started
        int NextHop = 1;
        unsigned Awaited = 0;
        bool AllSent = false;
    };
    std::vector<THopFigures> Hops;
    int DestinationHop = 0;  // the path's last hop: the destination or a hop that said it is unreachable; 0: none yet
    bool Reached = false;    // the destination itself answered at DestinationHop
    std::vector<TRound> Rounds;
    unsigned Awaited = 0;
    TTryLoop::TTime FirstRound{};
    TTryLoop::TTimerId Timer = 0;  // the next request's, or the next round's
    bool TimerPending = false;
    bool Sending = false;
    bool GivenUp = false;
    TTryCause Failure = TTryCause::None;
    int SystemError = 0;
    unsigned char Data[kDataSize];

    bool Ending() const { return Abort.load() || GivenUp; }
    int HopsToSend() const { return DestinationHop ? DestinationHop : Setup.MaxHops; }
    void StartRound();
    void SendNext(size_t round);
    void Schedule(TTryLoop::TTime due, std::function<void(TState&)> step);
    void Answered(int hop, size_t round, const TAnswer& answer);
    void Count(THopFigures& figures, const TAnswer& answer);
    void Fail(const TTryOutcome& failure);
    void EndIfDone();
    TPathReport Report(bool finished) const;
    void Emit(const TPathReport& report);
};

void TPathTrace::TState::Schedule(TTryLoop::TTime due, std::function<void(TState&)> step)
{
    TimerPending = true;
    Timer = Loop->AddTimer(due, &Abort, [self = shared_from_this(), step = std::move(step)] {
        self->TimerPending = false;
        step(*self);
    });
}

void TPathTrace::TState::StartRound()
{
    if (Ending()) {
        EndIfDone();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (Rounds.empty())
        FirstRound = now;
    else
        Emit(Report(false));
    TRound round;
    round.Start = now;
    round.Limit = HopsToSend();
    Rounds.push_back(round);
    SendNext(Rounds.size() - 1);
}

void TPathTrace::TState::SendNext(size_t index)
{
    TRound& round = Rounds[index];
    const int hop = round.NextHop++;
    if (Ending() || hop > std::min(round.Limit, HopsToSend())) {
        // The rest of the round is past the destination, or not wanted.
        round.AllSent = true;
        if (round.Awaited == 0 && !Ending())
            Emit(Report(false));
        if (static_cast<int>(Rounds.size()) < Setup.Rounds && !Ending())
            Schedule(FirstRound + Rounds.size() * Setup.Interval, [](TState& state) { state.StartRound(); });
        EndIfDone();
        return;
    }
    ++round.Awaited;
    ++Awaited;
    ++Hops[static_cast<size_t>(hop - 1)].Awaiting;
    const auto timeout = static_cast<int32_t>(std::clamp<int64_t>(Setup.Timeout.count(), 0, INT32_MAX));
    // A near hop may answer before the request's send returns.
    Sending = true;
    Loop->PingChannel(Setup.Target.ss_family)
        .Probe(Setup.Target, LengthOf(Setup.Target), Data, kDataSize, hop, timeout, &Abort,
               [self = shared_from_this(), hop, index](const TAnswer& answer) { self->Answered(hop, index, answer); });
    Sending = false;
    // A round's requests are spread over its interval, one at a time, so
    // that each is timed alone, as a request on its own would be.
    const auto spacing = Setup.Interval / std::max(round.Limit, 1);
    Schedule(round.Start + hop * spacing, [index](TState& state) { state.SendNext(index); });
}

void TPathTrace::TState::Answered(int hop, size_t index, const TAnswer& answer)
{
    --Awaited;
    TRound& round = Rounds[index];
    --round.Awaited;
    --Hops[static_cast<size_t>(hop - 1)].Awaiting;
    if (answer.Kind == TAnswer::TKind::Failed)
        Fail(answer.Failure);
    else if (!(answer.Kind == TAnswer::TKind::Lost && Abort.load()))  // a stop is no loss
        Count(Hops[static_cast<size_t>(hop - 1)], answer);
    const bool answered = answer.Kind != TAnswer::TKind::Lost && answer.Kind != TAnswer::TKind::Failed;
    const bool reachedHere = answered && (answer.Kind == TAnswer::TKind::Reply || SameAddress(answer.From, Setup.Target));
    // A hop that says the destination cannot be reached ends the path too:
    // every hop after it would only say the same.
    const bool endsHere = reachedHere || answer.Kind == TAnswer::TKind::Unreachable;
    if (endsHere && (!DestinationHop || hop < DestinationHop)) {
        DestinationHop = hop;
        Reached = reachedHere;
    } else if (hop == DestinationHop && reachedHere) {
        Reached = true;
    }
    if (round.AllSent && round.Awaited == 0 && !Ending() && Awaited > 0)
        Emit(Report(false));
    EndIfDone();
}

void TPathTrace::TState::Count(THopFigures& figures, const TAnswer& answer)
{
    ++figures.Sent;
    if (answer.Kind == TAnswer::TKind::Lost)
        return;
    const bool known = std::any_of(figures.Addresses.begin(), figures.Addresses.end(),
                                   [&](const sockaddr_storage& seen) { return SameAddress(seen, answer.From); });
    if (!known && answer.From.ss_family != AF_UNSPEC)
        figures.Addresses.push_back(answer.From);
    const auto time = answer.Elapsed;
    ++figures.Received;
    figures.Last = time;
    figures.Best = figures.Received == 1 ? time : std::min(figures.Best, time);
    figures.Worst = std::max(figures.Worst, time);
    const double value = static_cast<double>(time.count());
    const double before = figures.Mean;
    figures.Mean += (value - before) / figures.Received;
    figures.SquaredDeviations += (value - before) * (value - figures.Mean);
}

void TPathTrace::TState::Fail(const TTryOutcome& failure)
{
    // A request that cannot be sent (no right to the socket, no route) will
    // not be sent later either.
    if (Failure == TTryCause::None) {
        Failure = failure.Cause == TTryCause::None ? TTryCause::Other : failure.Cause;
        SystemError = failure.Shortage;
    }
    GivenUp = true;
    if (TimerPending && !Sending) {
        Loop->CancelTimer(Timer);
        TimerPending = false;
    }
}

void TPathTrace::TState::EndIfDone()
{
    const bool allSent = (static_cast<int>(Rounds.size()) >= Setup.Rounds && Rounds.back().AllSent) || Ending();
    if (Awaited > 0 || TimerPending || Sending || !allSent || !Loop)
        return;
    Emit(Report(true));
    // Last: the loop may end at once.
    std::exchange(Loop, nullptr)->Release();
}

TPathReport TPathTrace::TState::Report(bool finished) const
{
    TPathReport report;
    report.Reached = Reached;
    report.RoundsSent = static_cast<int>(Rounds.size());
    report.Finished = finished;
    report.Stopped = finished && Abort.load();
    report.Failure = Failure;
    report.SystemError = SystemError;
    int count = DestinationHop;
    if (!count) {
        // Up to the last hop that answered, and the first silent one after it.
        int lastAnswering = 0;
        for (int hop = 1; hop <= Setup.MaxHops; ++hop)
            if (!Hops[static_cast<size_t>(hop - 1)].Addresses.empty())
                lastAnswering = hop;
        count = std::min(lastAnswering + 1, Setup.MaxHops);
    }
    if (Failure != TTryCause::None && Rounds.size() <= 1 && !report.Reached)
        count = 0;
    for (int hop = 1; hop <= count; ++hop) {
        const THopFigures& figures = Hops[static_cast<size_t>(hop - 1)];
        TPathHop shown;
        shown.Hop = hop;
        shown.Addresses = figures.Addresses;
        shown.Sent = figures.Sent + figures.Awaiting;
        shown.Awaiting = figures.Awaiting;
        shown.Received = figures.Received;
        shown.Last = figures.Last;
        shown.Best = figures.Best;
        shown.Worst = figures.Worst;
        shown.MeanMicroseconds = figures.Mean;
        shown.StdDevMicroseconds =
            figures.Received > 1 ? std::sqrt(figures.SquaredDeviations / (figures.Received - 1)) : 0.0;
        report.Hops.push_back(std::move(shown));
    }
    return report;
}

void TPathTrace::TState::Emit(const TPathReport& report)
{
    std::lock_guard<std::mutex> lock(UpdateMutex);
    if (Update)
        Update(report);
}

TPathTrace::TPathTrace(const TPathSetup& setup, TUpdate update)
    : FState(std::make_shared<TState>(setup, std::move(update)))
{
    TTryLoop& loop = TTryLoop::Hold();
    FState->Loop = &loop;
    try {
        loop.Post([state = FState] { state->StartRound(); });
    } catch (...) {
        FState->Loop = nullptr;
        loop.Release();
        throw;
    }
}

TPathTrace::~TPathTrace()
{
    Stop();
    std::lock_guard<std::mutex> lock(FState->UpdateMutex);
    FState->Update = nullptr;
}

void TPathTrace::Stop() { FState->Abort.store(true); }

std::string AddressText(const sockaddr_storage& address)
{
    char text[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), LengthOf(address), text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST)
        != 0)
        return {};
    return text;
}

bool ParseAddress(const std::string& text, sockaddr_storage& address)
{
    const auto parsed = StrictSocketAddress(text, 0);
    if (!parsed)
        return false;
    address = parsed->Storage;
    return true;
}
