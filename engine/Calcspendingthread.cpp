#include "engine/Calcspendingthread.h"

#include "engine/Measuredns.h"
#include "engine/Measurehomepage.h"
#include "engine/Measureping.h"
#include "engine/Measuretcp.h"
#include "engine/Offlooptry.h"
#include "engine/Shortage.h"
#include "engine/Trytimes.h"
#include "engine/Tryloop.h"
#include "net/IdDNSResolver.h"
#include "vqlib/Vqtick.h"

#include <unistd.h>

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

namespace {

// Stands in for the thread identifier each worker's fetches were known by:
// the same for every fetch of one worker, another for each worker.
uint64_t NextWorkerIdentifier()
{
    static std::atomic<uint64_t> next{static_cast<uint64_t>(getpid())};
    return ++next;
}

}  // namespace

void TWorkerControl::Cancel()
{
    std::lock_guard lock(FMutex);
    FAbort.store(true);
    FChanged.notify_all();
}

bool TWorkerControl::Pause(std::chrono::milliseconds pause)
{
    std::unique_lock lock(FMutex);
    return !CurrentClock().Pause(FChanged, lock, pause, [this] { return FAbort.load(); });
}

void TWorkerControl::NoteShortage(int error)
{
    int none = 0;
    FShortage.compare_exchange_strong(none, error);
}

int TWorkerControl::Alive() const
{
    std::lock_guard lock(FMutex);
    return FAlive;
}

bool TWorkerControl::WaitNoneAlive(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, timeout, [this] { return FAlive == 0; });
}

TWorkerControl::TTicket::TTicket(std::shared_ptr<TWorkerControl> control) : FControl(std::move(control))
{
    std::lock_guard lock(FControl->FMutex);
    ++FControl->FAlive;
}

TWorkerControl::TTicket::~TTicket()
{
    std::lock_guard lock(FControl->FMutex);
    --FControl->FAlive;
    FControl->FChanged.notify_all();
}

void TCalcSpendingThread::Launch(TDNSDispInfo* info, TItemFinished onFinish, int32_t timeout, int32_t times,
                                 TWorkerSetup setup)
{
    // Deleted by its report, on the UI thread.
    TCalcSpendingThread* worker = nullptr;
    const std::shared_ptr<TWorkerControl> control = setup.Control;
    try {
        worker = new TCalcSpendingThread(info, std::move(onFinish), timeout, times, std::move(setup));
    } catch (const std::system_error& failure) {
        // No descriptor left for the try loop is a shortage like any try's.
        if (control && IsShortageError(failure.code().value()))
            control->NoteShortage(failure.code().value());
        throw;
    }
    try {
        worker->FLoop->Post([worker] { worker->Begin(); });
    } catch (...) {
        delete worker;
        throw;
    }
}

TCalcSpendingThread::TCalcSpendingThread(TDNSDispInfo* info, TItemFinished onFinish, int32_t timeout,
                                         int32_t times, TWorkerSetup setup)
    : FInfo(info),
      // Only a DNS-query item needs one: thousands of workers at once add up.
      FResolver(info->DoType != dtPing && info->DoType != dtHomePage && info->DoType != dtTCPConnect
                    ? std::make_unique<TIdDNSResolver>()
                    : nullptr),
      FOnFinish(std::move(onFinish)),
      FTimeout(timeout),
      FTimes(times),
      FControl(setup.Control ? std::move(setup.Control) : std::make_shared<TWorkerControl>()),
      FTicket(FControl),
      FTry(std::move(setup.Try)),
      FOnTry(std::move(setup.OnTry)),
      FPause(setup.Pause.value_or(kPauseBetweenTries)),
      FHomePageLimit(setup.HomePageLimit),
      FPauseAfterLastTry(setup.PauseAfterLastTry),
      FDnsQueryName(std::move(setup.DnsQueryName)),
      FFailOnHttpError(setup.FailOnHttpError),
      FFamily(setup.Family),
      FLoop(nullptr),
      FAgentNumber(NextWorkerIdentifier()),
      FTries(static_cast<size_t>(std::max(times, 0))),
      FReport([this] {
          // Gone after its report, whatever the report throws: a shutdown
          // waits for every worker to be gone.
          struct TDeleteAfter {
              TCalcSpendingThread* Worker;
              ~TDeleteAfter() { delete Worker; }
          } deleteAfter{this};
          DoFinish(FResult);
      })
{
    // Last: nothing after it can fail and leave the loop held.
    FLoop = &TTryLoop::Hold();
}

TCalcSpendingThread::~TCalcSpendingThread()
{
    if (FLoop)
        FLoop->Release();
    // The resolver goes first; the ticket, which lets a waiting shutdown go
    // on, only after it.
    FResolver.reset();
}

void TCalcSpendingThread::Begin()
{
    const TDNSDispInfo& item = *FInfo;
    FTarget = item.DoType == dtHomePage ? &item.DomainIP : &item.IP;
    if (FTarget->empty() && FTimes > 0 && !Stopping()) {
        const bool unparsed = (item.DoType == dtTCPConnect && !ParseTcpTarget(item.DomainIP))
            || (item.DoType == dtDNSQuery && !ParseDnsServer(item.DomainIP));
        FailEveryTry(unparsed ? TTryCause::BadTarget : TTryCause::NameNotResolved);
    }
    if (FTarget->empty() || FTimes <= 0 || Stopping()) {
        Finish();
        return;
    }
    StartTry();
}

void TCalcSpendingThread::FailEveryTry(TTryCause cause) noexcept
{
    TTryOutcome failed;
    failed.Cause = cause;
    for (int index = 0; index < FTimes && !FBroken; ++index)
        TellObserver(index, failed);
}

void TCalcSpendingThread::TellObserver(int index, const TTryOutcome& outcome) noexcept
{
    try {
        if (FOnTry)
            FOnTry(*FInfo, index, outcome);
    } catch (const std::bad_alloc&) {
        FControl->NoteShortage(ENOMEM);
        FBroken = true;
    } catch (...) {
        FBroken = true;
    }
}

void TCalcSpendingThread::StartTry() noexcept
{
    TTryOutcome failed;
    failed.Cause = TTryCause::Other;
    try {
        StartMethodTry();
        return;
    } catch (const std::bad_alloc&) {
        failed.Shortage = ENOMEM;
        failed.Cause = TTryCause::Shortage;
    } catch (...) {
        // A try that cannot be made fails, as a try reports its errors.
    }
    TryEnded(failed);
}

void TCalcSpendingThread::StartMethodTry()
{
    auto ended = [this](const TTryOutcome& outcome) { TryEnded(outcome); };
    const std::atomic<bool>* abort = &FControl->AbortFlag();
    if (FTry) {
        TOffLoopTry::Start(
            *FLoop,
            [this] {
                TTryOutcome outcome;
                outcome.Ok = FTry(*FInfo, *FTarget, outcome.Elapsed, FControl->AbortFlag());
                return outcome;
            },
            std::move(ended));
        return;
    }
    switch (FInfo->DoType) {
    case dtHomePage:
        StartHomePageTry();
        break;
    case dtPing:
        StartPing(*FLoop, *FTarget, FTimeout, abort, std::move(ended));
        break;
    case dtTCPConnect: {
        // The address was resolved from the host before the port.
        const std::optional<TTcpTarget> target = ParseTcpTarget(FInfo->DomainIP);
        StartTcpConnect(*FLoop, *FTarget, target ? target->Port : 0, FTimeout, abort, std::move(ended));
        break;
    }
    default: {
        // The server's port, when one is given, was written after its host.
        const std::optional<TDnsServer> server = ParseDnsServer(FInfo->DomainIP);
        FResolver->SetPort(server ? server->Port : TDnsServer{}.Port);
        StartDNSQuery(*FLoop, *FResolver, *FTarget, FTimeout, abort, std::move(ended),
                      FDnsQueryName.value_or(DNSQueryHostName));
        break;
    }
    }
}

void TCalcSpendingThread::StartHomePageTry()
{
    // Made here, so that handing the outcome back to the loop needs no memory.
    auto outcome = std::make_shared<TTryOutcome>();
    auto handBack = std::make_shared<TTryLoop::TReservedTask>([this, outcome] { TryEnded(*outcome); });
    StartHomePage(
        *FTarget, FHomePageLimit, &FControl->AbortFlag(),
        [loop = FLoop, outcome, handBack](TTryOutcome ended) {
            *outcome = std::move(ended);
            loop->Post(std::move(*handBack));
        },
        "vqweb_" + std::to_string(FAgentNumber), FFailOnHttpError, FFamily);
}

void TCalcSpendingThread::TryEnded(const TTryOutcome& outcome) noexcept
{
    if (outcome.Denied)
        FControl->NotePingDenied();
    if (outcome.Shortage)
        FControl->NoteShortage(outcome.Shortage);
    const int index = FIndex++;
    if (outcome.Ok)
        FTries[static_cast<size_t>(index)] = outcome.Elapsed;
    TellObserver(index, outcome);
    const bool last = FIndex >= FTimes;
    if (FBroken || Stopping() || (last && !FPauseAfterLastTry)) {
        Finish();
        return;
    }
    try {
        const auto length = CurrentClock().PauseLength(FPause);
        FLoop->AddTimer(std::chrono::steady_clock::now() + length, &FControl->AbortFlag(), [this] { AfterPause(); });
    } catch (...) {
        AfterPause();  // no memory to wait with: go on at once
    }
}

void TCalcSpendingThread::AfterPause() noexcept
{
    if (Stopping() || FIndex >= FTimes)
        Finish();
    else
        StartTry();
}

TSpendingResult TCalcSpendingThread::Figures() const
{
    TSpendingResult result;
    result.FailCount = FTimes;
    if (FBroken)
        return result;
    for (const auto& time : FTries) {
        if (time)
            --result.FailCount;
    }
    // The figures the details and reports show are made the same way.
    if (const std::optional<TTryFigures> figures = TryFigures(FTries)) {
        result.Ok = true;
        result.Average = figures->Mean;
    }
    return result;
}

void TCalcSpendingThread::Finish() noexcept
{
    FResult = Figures();
    TTryLoop* loop = std::exchange(FLoop, nullptr);
    // From here the UI thread may run the report and delete this worker.
    PostOnUiThread(std::move(FReport));
    loop->Release();
}

void TCalcSpendingThread::ApplyResult(TDNSDispInfo& item, const TSpendingResult& result)
{
    item.FailCount = result.FailCount;
    if (result.Ok) {
        item.AvgTime = result.Average;
        item.State = tsDone;
    } else {
        item.State = tsNoResponse;
    }
}

void TCalcSpendingThread::DoFinish(const TSpendingResult& result)
{
    ApplyResult(*FInfo, result);
    if (FOnFinish)
        FOnFinish(FInfo);
}

bool TCalcSpendingThread::Stopping() const { return FControl->Cancelled(); }
