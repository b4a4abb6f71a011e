#include "cli/Clirun.h"

#include "engine/Testrun.h"
#include "engine/Trytimes.h"
#include "engine/Uiexecutor.h"
#include "vqlib/Gbk.h"

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

void TRunStop::Request()
{
    std::lock_guard lock(FMutex);
    if (FRequested)
        return;
    FRequested = true;
    // Under the lock, so the run cannot end and take its hook away meanwhile.
    if (FOnRequest)
        FOnRequest();
    FChanged.notify_all();
}

bool TRunStop::Requested() const
{
    std::lock_guard lock(FMutex);
    return FRequested;
}

bool TRunStop::WaitFor(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, timeout, [this] { return FRequested; });
}

// Tells a run of a stop request for as long as it lives; a request made
// before it began is told at once.
class TRunStopHook {
public:
    TRunStopHook(TRunStop* stop, std::function<void()> onRequest) : FStop(stop)
    {
        if (!FStop)
            return;
        std::lock_guard lock(FStop->FMutex);
        if (FStop->FRequested)
            onRequest();
        else
            FStop->FOnRequest = std::move(onRequest);
    }
    ~TRunStopHook()
    {
        if (!FStop)
            return;
        std::lock_guard lock(FStop->FMutex);
        FStop->FOnRequest = nullptr;
    }
    TRunStopHook(const TRunStopHook&) = delete;
    TRunStopHook& operator=(const TRunStopHook&) = delete;

private:
    TRunStop* FStop;
};

namespace {

// An item a stop caught before it reported: its figures are those of the
// tries it made. The try the stop cut off is none of them.
void CutShort(TItemResult& item, int32_t testTimes)
{
    for (std::optional<TTryOutcome>& outcome : item.Outcomes)
        if (outcome && outcome->Cause == TTryCause::Aborted)
            outcome.reset();
    item.Tries = TimesOf(item.Outcomes);
    const auto made = static_cast<int32_t>(
        std::count_if(item.Outcomes.begin(), item.Outcomes.end(), [](const auto& outcome) { return outcome.has_value(); }));
    const auto answered = static_cast<int32_t>(
        std::count_if(item.Tries.begin(), item.Tries.end(), [](const auto& time) { return time.has_value(); }));
    TDNSDispInfo& info = item.Info;
    info.FailCount = made - answered;
    info.AvgTime = 0.0;
    if (const std::optional<TTryFigures> figures = TryFigures(item.Tries)) {
        info.State = tsDone;
        info.AvgTime = figures->Mean;
    } else {
        info.State = made > 0 ? tsNoResponse : tsWaiting;
    }
    if (made < testTimes)
        item.TriesMade = made;
}

TTryObserver ChainedObserver(TTryObserver first, TTryObserver then)
{
    return [first = std::move(first), then = std::move(then)](const TDNSDispInfo& item, int index,
                                                              const TTryOutcome& outcome) {
        first(item, index, outcome);
        then(item, index, outcome);
    };
}

}  // namespace

TRunReport RunPlan(const std::string& planName, std::vector<TDNSDispInfo> items, const TRunSettings& settings,
                   const TProgress& progress, TRunStop* stop)
{
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    const auto started = std::chrono::system_clock::now();
    TTryLog tries(settings.Count);
    int finished = 0;
    bool completed = false;
    bool aborted = false;
    bool pingDenied = false;
    int shortage = 0;
    std::vector<bool> reported(items.size(), false);
    {
        TTestRun run(items, static_cast<int32_t>(settings.Timeout.count()), settings.Count);
        run.SetPauseBetweenTries(settings.Interval);
        // As ping's -i: the run ends with an item's last answer, not a pause later.
        run.SetPauseAfterLastTry(false);
        run.SetWorkerLimit(settings.Workers);
        if (settings.HomePageTimeout)
            run.SetHomePageLimit(*settings.HomePageTimeout);
        if (settings.DnsQueryName)
            run.SetDnsQueryName(*settings.DnsQueryName);
        run.SetFailOnHttpError(settings.FailOnHttpError);
        run.SetAddressFamily(settings.Family);
        run.SetTryObserver(settings.EachTry ? ChainedObserver(tries.Observer(), settings.EachTry) : tries.Observer());
        run.Listener.ItemReported = [&](TDNSDispInfo& item) {
            reported[static_cast<size_t>(&item - items.data())] = true;
            if (progress)
                progress(++finished, static_cast<int>(items.size()));
        };
        run.Listener.Completed = [&completed] { completed = true; };
        // The shutdown runs on this thread, where the run lives.
        TRunStopHook hook(stop, [&executor, &run, &aborted] {
            executor.Post([&run, &aborted] {
                aborted = true;
                run.Shutdown();
            });
        });
        run.Execute();
        while (!executor.RunUntil([&] { return completed || aborted; }, std::chrono::minutes(1))) {
        }
        pingDenied = run.PingDenied();
        shortage = run.Shortage();
    }
    // A request posted as the run completed has not run; it reaches nobody.

    TRunReport report;
    report.PlanName = planName;
    report.TestTimes = settings.Count;
    report.PingDenied = pingDenied;
    report.Shortage = shortage;
    report.Aborted = aborted;
    report.Started = started;
    report.Ended = std::chrono::system_clock::now();
    for (size_t index = 0; index < items.size(); ++index) {
        const TDNSDispInfo& info = items[index];
        TTryOutcomes outcomes = tries.Outcomes(info);
        TTryTimes times = TimesOf(outcomes);
        report.Items.push_back({info, std::move(times), std::move(outcomes), std::nullopt});
        if (aborted && !reported[index])
            CutShort(report.Items.back(), settings.Count);
    }
    return report;
}

std::string ShortageText(int error)
{
    const std::string what = std::strerror(error);
    switch (error) {
    case EMFILE: {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        return "some tries could not open a socket: " + what + " (this process may have " +
               std::to_string(limit.rlim_cur) + " files open; raise the limit with ulimit -n)";
    }
    case ENFILE:
        return "some tries could not open a socket: " + what + " (the system's limit, sysctl fs.file-max)";
    case ENOMEM:
        return "some tries could not be made: out of memory (see ulimit -v)";
    default:
        return "some tries could not be made: " + what;
    }
}

int ExitStatus(const TRunReport& report)
{
    const bool allAnswered = std::all_of(report.Items.begin(), report.Items.end(),
                                         [](const TItemResult& item) { return item.Info.State == tsDone; });
    return allAnswered ? 0 : 1;
}

TRunRecord RecordOf(const TRunReport& report)
{
    TRunRecord run;
    run.Started = report.Started;
    run.Ended = report.Ended;
    run.Plan = GbkToUtf8(report.PlanName);
    for (const TItemResult& item : report.Items) {
        const TDNSDispInfo& info = item.Info;
        run.Items.push_back({GbkToUtf8(info.Name), GbkToUtf8(info.DomainIP), info.DoType, GbkToUtf8(info.IP),
                             item.Tries, item.Outcomes});
    }
    return run;
}
