#include "engine/Testrun.h"

#include "engine/Uiexecutor.h"
#include "vqlib/Vqnet.h"

#include <arpa/inet.h>

#include <chrono>

namespace {

void StartCalcSpendingThread(TDNSDispInfo* item, TItemFinished onFinish, int32_t timeout, int32_t times,
                             TWorkerSetup setup)
{
    new TCalcSpendingThread(item, std::move(onFinish), timeout, times, std::move(setup));
}

bool IsDottedIPv4(const std::string& text)
{
    return inet_addr(text.c_str()) != INADDR_NONE;
}

}  // namespace

TTestRun::TTestRun(std::vector<TDNSDispInfo>& items, int32_t timeout, int32_t times)
    : TTestRun(items, timeout, times, FOwnLock, FOwnRunningCount)
{
}

TTestRun::TTestRun(std::vector<TDNSDispInfo>& items, int32_t timeout, int32_t times, std::recursive_mutex& lock,
                   int32_t& runningCount)
    : FItems(items),
      FTimeout(timeout),
      FTimes(times),
      FLock(lock),
      FRunningCount(runningCount),
      FStarter(StartCalcSpendingThread)
{
}

TTestRun::~TTestRun() { Shutdown(); }

void TTestRun::Execute()
{
    ResolveHosts();
    MarkAllWaiting();
    Start();
}

void TTestRun::ResolveHosts()
{
    TWASTool tool;
    for (TDNSDispInfo& item : FItems) {
        // A DNS-query item names its DNS server; it is resolved like a Ping item.
        if (item.DoType == dtHomePage)
            continue;
        if (IsDottedIPv4(item.DomainIP)) {
            item.IP = item.DomainIP;
            continue;
        }
        std::string ip;
        if (tool.ResolveHostIP(item.DomainIP, ip)) {
            item.IP = ip;
            item.Note = "IP[" + ip + "] ";
        } else {
            item.IP.clear();
            item.Note = "\xD3\xF2\xC3\xFB\xBD\xE2\xCE\xF6IP\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC\xA1\xA3";  // 域名解析IP地址失败。 (GBK)
        }
    }
}

void TTestRun::MarkAllWaiting()
{
    std::lock_guard lock(FLock);
    for (TDNSDispInfo& item : FItems)
        item.State = tsWaiting;
}

void TTestRun::Start()
{
    std::lock_guard lock(FLock);
    if (FShutDown)
        return;
    FControl = std::make_shared<TWorkerControl>();
    FRunning = true;
    FRunningCount = 0;
    StartWaitingItems(kFirstWorkers);
    if (FRunningCount == 0)
        Complete();
}

void TTestRun::StartWaitingItems(int count)
{
    std::lock_guard lock(FLock);
    int started = 0;
    for (TDNSDispInfo& item : FItems) {
        if (started == count || FShutDown)
            break;
        if (item.State != tsWaiting)
            continue;
        item.State = tsTesting;
        if (Listener.ItemStarted)
            Listener.ItemStarted(item);
        if (StartWorker(item)) {
            ++started;
            continue;
        }
        // No worker: the item ends as if every try had failed.
        TCalcSpendingThread::ApplyResult(item, TSpendingResult{false, 0.0, FTimes});
        if (Listener.ItemReported)
            Listener.ItemReported(item);
    }
}

bool TTestRun::StartWorker(TDNSDispInfo& item)
{
    TWorkerSetup setup{FTry, FOnTry, FControl};
    // The handler may point at this run: Shutdown waits for every worker.
    try {
        FStarter(&item, [this](TDNSDispInfo* finished) { ItemFinished(finished); }, FTimeout, FTimes,
                 std::move(setup));
    } catch (...) {
        return false;
    }
    ++FRunningCount;
    return true;
}

void TTestRun::ItemFinished(TDNSDispInfo* item)
{
    std::lock_guard lock(FLock);
    --FRunningCount;
    if (FShutDown)
        return;
    if (Listener.ItemReported)
        Listener.ItemReported(*item);
    StartWaitingItems(kWorkersPerReport);
    if (FRunningCount == 0)
        Complete();
}

void TTestRun::Complete()
{
    if (!FRunning)
        return;
    FRunning = false;
    if (Listener.Completed)
        Listener.Completed();
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
    if (!control)
        return;
    control->Cancel();
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
