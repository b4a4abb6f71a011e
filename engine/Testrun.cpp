#include "engine/Testrun.h"

#include "engine/Homepagefetches.h"
#include "engine/Measuredns.h"
#include "engine/Measuretcp.h"
#include "engine/Thread.h"
#include "engine/Uiexecutor.h"
#include "vqlib/Vqnet.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

TTestRun::TTestRun(std::vector<TDNSDispInfo>& items, int32_t timeout, int32_t times)
    : FItems(items),
      FTimeout(timeout),
      FTimes(times),
      FStarter(TCalcSpendingThread::Launch),
      FSelf(std::make_shared<TTestRun*>(this))
{
}

TTestRun::~TTestRun()
{
    Shutdown();
    *FSelf = nullptr;
}

void TTestRun::Execute()
{
    ResolveHosts([this] {
        Begin();
        StartWaitingItems(FWorkerLimit);
    });
}

std::optional<std::string> MeasuredHost(int8_t method, const std::string& text)
{
    if (method == dtTCPConnect) {
        const std::optional<TTcpTarget> target = ParseTcpTarget(text);
        return target ? std::optional<std::string>(target->Host) : std::nullopt;
    }
    if (method == dtDNSQuery) {
        const std::optional<TDnsServer> server = ParseDnsServer(text);
        return server ? std::optional<std::string>(server->Host) : std::nullopt;
    }
    return text;
}

namespace {

bool OfFamily(const std::string& literal, int family)
{
    if (family == AF_UNSPEC)
        return true;
    return IsIPv6Literal(literal) == (family == AF_INET6);
}

}  // namespace

void TTestRun::ResolveHosts(std::function<void()> resolved)
{
    std::vector<TDNSDispInfo*> named;
    std::vector<std::string> names;
    for (TDNSDispInfo& item : FItems) {
        // A DNS-query item names its DNS server, a TCP-connect item its host
        // before the port; they are resolved like a Ping item.
        if (item.DoType == dtHomePage)
            continue;
        const std::optional<std::string> host = MeasuredHost(item.DoType, item.DomainIP);
        if (!host) {
            item.IP.clear();  // nothing to connect to: every try fails
            continue;
        }
        // Measured as typed, with no lookup and no note; one of the other
        // family has nothing to measure.
        if (IsTargetLiteral(*host)) {
            item.IP = OfFamily(*host, FFamily) ? *host : std::string();
            continue;
        }
        named.push_back(&item);
        names.push_back(*host);
    }
    if (names.empty()) {
        resolved();
        return;
    }
    auto lookup = THostResolution::SystemLookup(FFamily);
    FResolving = true;
    FResolution.reset();
    FResolution = std::make_unique<THostResolution>(
        std::move(names), std::move(lookup),
        [this, named = std::move(named), resolved = std::move(resolved)](THostResolution::TAddresses addresses) {
            HostsResolved(named, addresses);
            resolved();
        });
}

void TTestRun::HostsResolved(const std::vector<TDNSDispInfo*>& named, const THostResolution::TAddresses& addresses)
{
    FResolving = false;
    for (size_t i = 0; i < named.size(); ++i) {
        TDNSDispInfo& item = *named[i];
        if (addresses[i]) {
            item.IP = *addresses[i];
            item.Note = "IP[" + item.IP + "] ";
        } else {
            item.IP.clear();
            item.Note = "\xD3\xF2\xC3\xFB\xBD\xE2\xCE\xF6IP\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC\xA1\xA3";  // 域名解析IP地址失败。 (GBK)
        }
    }
}

void TTestRun::Begin()
{
    std::lock_guard lock(FLock);
    if (FShutDown)
        return;
    for (TDNSDispInfo& item : FItems)
        item.State = tsWaiting;
    FControl = std::make_shared<TWorkerControl>();
    FRunning = true;
    FRunningCount = 0;
    FFinishedCount = 0;
    FNextWaiting = 0;
}

template <class... TArgs>
void TTestRun::Tell(const std::function<void(TArgs&...)>& listener, TArgs&... args)
{
    if (!listener)
        return;
    try {
        listener(args...);
    } catch (...) {
        if (!FListenerError)
            FListenerError = std::current_exception();
    }
}

void TTestRun::RethrowListenerError()
{
    if (std::exception_ptr error = std::exchange(FListenerError, nullptr))
        std::rethrow_exception(error);
}

void TTestRun::StartWaitingItems(int count)
{
    std::lock_guard lock(FLock);
    Dispatch(count);
    RethrowListenerError();
}

void TTestRun::Dispatch(int count)
{
    if (!FRunning)
        return;  // not begun, completed or shut down
    int started = 0;
    // From the first item that may still wait, so that a report costs the
    // same however long the list: items are started in list order.
    for (size_t index = FNextWaiting; index < FItems.size(); ++index) {
        if (started == count || FShutDown)
            break;
        TDNSDispInfo& item = FItems[index];
        if (item.State == tsWaiting) {
            if (StartWorker(item)) {
                ++started;
            } else {
                // The next items would fare no better now; a report retries them.
                if (WorkersRemain() && (FRunningCount > 0 || PostRetry()))
                    break;
                // No worker of the run is left to report: once more after a pause,
                // then the item ends as if every try had failed, and the next is tried.
                std::this_thread::sleep_for(kStartRetryPause);
                if (StartWorker(item))
                    ++started;
                else
                    GiveUp(item);
            }
        }
        if (index == FNextWaiting && item.State != tsWaiting)
            ++FNextWaiting;
    }
    CompleteWhenDone();
}

bool TTestRun::StartWorker(TDNSDispInfo& item)
{
    item.State = tsTesting;
    TWorkerSetup setup{FTry, FOnTry, FControl, FPause, FHomePageLimit, FPauseAfterLastTry, FDnsQueryName,
                       FFailOnHttpError, FFamily};
    // The handler may point at this run: Shutdown waits for every worker.
    try {
        FStarter(&item, [this](TDNSDispInfo* finished) { ItemFinished(finished); }, FTimeout, FTimes,
                 std::move(setup));
    } catch (...) {
        item.State = tsWaiting;
        return false;
    }
    ++FRunningCount;
    // The worker only reads the item meanwhile, as the listener does.
    Tell(Listener.ItemStarted, item);
    return true;
}

bool TTestRun::WorkersRemain() const
{
    // Reported but not yet ended counts: the thread still holds its place.
    return FRunningCount > 0 || FControl->Alive() > 0;
}

bool TTestRun::PostRetry()
{
    // No report is due, but workers that have reported are still ending.
    if (FRetryPosted)
        return true;
    TUiExecutor* executor = InstalledUiExecutor();
    if (!executor)
        return false;
    FRetryPosted = true;
    executor->Post([self = FSelf] {
        if (*self)
            (*self)->RetryWaitingItems();
    });
    return true;
}

void TTestRun::RetryWaitingItems()
{
    std::lock_guard lock(FLock);
    FRetryPosted = false;
    if (FShutDown || !FRunning || FRunningCount > 0)
        return;  // stopped, or a report is due and retries
    // Every worker of the run has reported, so none needs this thread: wait
    // until their threads are gone and their places free.
    if (FControl->WaitNoneAlive(kWorkerEndWait))
        TThread::JoinAll();
    StartWaitingItems(FWorkerLimit);
}

void TTestRun::GiveUp(TDNSDispInfo& item)
{
    TCalcSpendingThread::ApplyResult(item, TSpendingResult{false, 0.0, FTimes});
    Report(item);
}

void TTestRun::Report(TDNSDispInfo& item)
{
    ++FFinishedCount;
    Tell(Listener.ItemReported, item);
}

bool TTestRun::AnyWaiting() const
{
    for (size_t index = FNextWaiting; index < FItems.size(); ++index) {
        if (FItems[index].State == tsWaiting)
            return true;
    }
    return false;
}

void TTestRun::ItemFinished(TDNSDispInfo* item)
{
    std::lock_guard lock(FLock);
    --FRunningCount;
    if (FShutDown)
        return;
    Report(*item);
    // One replacement, and the places of workers that could not be created.
    Dispatch(std::max(kWorkersPerReport, FWorkerLimit - FRunningCount));
    RethrowListenerError();
}

void TTestRun::CompleteWhenDone()
{
    if (!FRunning || FShutDown || FRunningCount > 0 || AnyWaiting())
        return;
    FRunning = false;
    Tell(Listener.Completed);
}

void TTestRun::Shutdown()
{
    std::shared_ptr<TWorkerControl> control;
    {
        std::lock_guard lock(FLock);
        FShutDown = true;
        FRunning = false;
        control = FControl;
    }
    // Lookups still under way are left to end on their own.
    if (FResolution)
        FResolution->Abandon();
    FResolving = false;
    if (!control)
        return;
    control->Cancel();
    WakeHomePageFetches();  // rather than at their next look at the flag
    // Workers report through the UI thread, which is this one: keep serving
    // their reports while waiting, or they would wait for us and we for them.
    TUiExecutor* executor = InstalledUiExecutor();
    do {
        if (executor)
            executor->RunPending();
    } while (!control->WaitNoneAlive(std::chrono::milliseconds(5)));
    if (executor)
        executor->RunPending();
    // None of them needs this thread any more; wait until they have ended.
    TThread::JoinAll();
}
