#include "engine/Calcspendingthread.h"

#include "engine/Measuredns.h"
#include "engine/Measurehomepage.h"
#include "engine/Measureping.h"
#include "engine/Shortage.h"
#include "engine/Trytimes.h"
#include "net/IdDNSResolver.h"
#include "vqlib/Vqtick.h"

#include <algorithm>
#include <new>

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
    // Deleted by the thread once Execute has returned.
    new TCalcSpendingThread(info, std::move(onFinish), timeout, times, std::move(setup));
}

TCalcSpendingThread::TCalcSpendingThread(TDNSDispInfo* info, TItemFinished onFinish, int32_t timeout,
                                         int32_t times, TWorkerSetup setup)
    : FInfo(info),
      FResolver(std::make_unique<TIdDNSResolver>()),
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
      FReport([this] { DoFinish(FResult); })
{
    Start();
}

TCalcSpendingThread::~TCalcSpendingThread()
{
    // The resolver goes first, on this thread; the ticket, which lets a
    // waiting shutdown go on, only after it.
    FResolver.reset();
}

void TCalcSpendingThread::Execute()
{
    // FInfo is only read here; its results are written in the report, on
    // the UI thread, which may be reading every record meanwhile.
    FResult = MeasureItem(*FInfo);
    Synchronize(FReport);
}

TSpendingResult TCalcSpendingThread::MeasureItem(const TDNSDispInfo& item) noexcept
{
    try {
        return CalcSpending(item);
    } catch (const std::bad_alloc&) {
        FControl->NoteShortage(ENOMEM);
    } catch (...) {
        // An observer that fails: the item's tries are not all known.
    }
    TSpendingResult failed;
    failed.FailCount = FTimes;
    return failed;
}

TSpendingResult TCalcSpendingThread::CalcSpending(const TDNSDispInfo& item)
{
    TSpendingResult result;
    result.FailCount = FTimes;
    const std::string target = item.DoType == dtHomePage ? item.DomainIP : item.IP;
    if (target.empty())
        return result;

    TTryTimes tries(static_cast<size_t>(std::max(FTimes, 0)));
    for (int index = 0; index < FTimes && !Stopping(); ++index) {
        std::chrono::microseconds elapsed{0};
        const bool ok = TryOnce(item, target, elapsed);
        if (ok) {
            tries[static_cast<size_t>(index)] = elapsed;
            --result.FailCount;
        }
        if (FOnTry)
            FOnTry(item, index, ok, elapsed);
        if (!PauseAfterTry(index))
            break;
    }
    // The figures the details and reports show are made the same way.
    if (const std::optional<TTryFigures> figures = TryFigures(tries)) {
        result.Ok = true;
        result.Average = figures->Mean;
    }
    return result;
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

bool TCalcSpendingThread::TryOnce(const TDNSDispInfo& item, const std::string& target,
                                  std::chrono::microseconds& elapsed)
{
    try {
        if (FTry)
            return FTry(item, target, elapsed, FControl->AbortFlag());
        bool ok = false;
        int shortage = 0;
        switch (item.DoType) {
        case dtHomePage:
            ok = MeasureHomePage(target, elapsed, &FControl->AbortFlag(), FHomePageLimit, &shortage);
            break;
        case dtPing: {
            bool denied = false;
            ok = MeasurePing(target, FTimeout, elapsed, &FControl->AbortFlag(), &denied, &shortage);
            if (denied)
                FControl->NotePingDenied();
            break;
        }
        default:
            ok = MeasureDNSQuery(*FResolver, target, FTimeout, elapsed, &FControl->AbortFlag(), &shortage);
            break;
        }
        if (shortage)
            FControl->NoteShortage(shortage);
        return ok;
    } catch (const std::bad_alloc&) {
        FControl->NoteShortage(ENOMEM);
        return false;
    } catch (...) {
        return false;  // a try reports its errors as a failed try
    }
}

bool TCalcSpendingThread::Stopping() const { return FControl->Cancelled(); }

bool TCalcSpendingThread::PauseAfterTry(int index)
{
    if (index + 1 == FTimes && !FPauseAfterLastTry)
        return true;
    return FControl->Pause(FPause);
}
