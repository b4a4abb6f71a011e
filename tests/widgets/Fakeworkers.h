#pragma once
// Stands in for the measuring workers of a window's test runs: the test
// decides what each item measured and, if it likes, when each item reports.
// Create it after the window and before the window's first run; the window
// then sends nothing anywhere.

#include "app/Main_quellan.h"
#include "vqlib/Gbkwidgets.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

// What a worker leaves in its item.
struct TFakeResult {
    uint8_t State = tsDone;
    double AvgTime = 0.0;
    int32_t FailCount = 0;
    bool PingDenied = false;  // the tries had no right to an ICMP socket
    int Shortage = 0;         // the errno of tries that got no descriptor, buffer or memory
    // Told to the run's try observer before the report, in order; none: a failed try.
    std::vector<std::optional<std::chrono::microseconds>> Tries = {};
    // Told instead of Tries when given: how each try ended, causes and all.
    std::vector<TTryOutcome> Outcomes = {};
};

inline TFakeResult Measured(double avgTime, int32_t failCount = 0) { return {tsDone, avgTime, failCount}; }
inline TFakeResult NoResponse(int32_t failCount = 5) { return {tsNoResponse, 0.0, failCount}; }
// A Ping item whose every try found no ICMP socket it had the right to open.
inline TFakeResult NoRightToPing() { return {tsNoResponse, 0.0, 5, true}; }
// An item whose every try found the process's descriptors used up.
inline TFakeResult NoDescriptorLeft() { return {tsNoResponse, 0.0, 5, false, EMFILE}; }
// Measured from these tries, as a worker would: the mean of the answered
// ones and a failure for each of the others.
inline TFakeResult Tried(std::vector<std::optional<std::chrono::microseconds>> tries)
{
    double sum = 0;
    int answered = 0;
    for (const auto& time : tries)
        if (time) {
            sum += double(time->count()) / 1000.0;
            ++answered;
        }
    const int32_t failed = int32_t(tries.size()) - answered;
    if (answered == 0)
        return {tsNoResponse, 0.0, failed, false, 0, std::move(tries)};
    return {tsDone, sum / answered, failed, false, 0, std::move(tries)};
}

class TFakeWorkers {
public:
    // Reports come in through the window's event loop, one by one, unless
    // they are held until Report(); a window destroyed first drops them.
    explicit TFakeWorkers(QWidget& window, bool holdReports = false)
        : FState(std::make_shared<TState>()),
          FScope([state = FState](TDNSDispInfo* item, TItemFinished onFinish, int32_t timeout, int32_t times,
                                  TWorkerSetup setup) {
                  state->Start(item, std::move(onFinish), timeout, times, std::move(setup));
              })
    {
        FState->Window = &window;
        FState->Hold = holdReports;
    }

    // The result of every item of this name; an item without one ends
    // without a response, every try failed.
    void Set(const QString& name, TFakeResult result) { FState->Results[ToGbk(name).value()] = result; }

    // The names of the items being measured whose reports are held, in the
    // order their workers started.
    QStringList Held() const
    {
        QStringList names;
        for (const TStarted& started : FState->Held)
            names << FromGbk(started.Item->Name);
        return names;
    }
    // The nth held item of that name reports its result now.
    void Report(const QString& name, int nth = 0)
    {
        for (auto it = FState->Held.begin(); it != FState->Held.end(); ++it) {
            if (FromGbk(it->Item->Name) != name || nth-- > 0)
                continue;
            const TStarted started = *it;
            FState->Held.erase(it);
            FState->Finish(started);
            return;
        }
        qFatal("no held worker for %s", qPrintable(name));
    }
    void ReportAll()
    {
        while (!FState->Held.empty())
            Report(FromGbk(FState->Held.front().Item->Name));
    }

    int Started() const { return FState->Started; }
    // What the last worker was told: the time limit of a try and the tries.
    int32_t Timeout() const { return FState->Timeout; }
    int32_t Times() const { return FState->Times; }

private:
    struct TStarted {
        TDNSDispInfo* Item;
        TItemFinished OnFinish;
        std::shared_ptr<TWorkerControl> Control;  // the run's
        TTryObserver OnTry;
    };
    // Shared with the run, which may outlive this object.
    struct TState : std::enable_shared_from_this<TState> {
        QPointer<QWidget> Window;
        bool Hold = false;
        std::map<std::string, TFakeResult> Results;
        std::vector<TStarted> Held;
        int Started = 0;
        int32_t Timeout = 0;
        int32_t Times = 0;

        void Start(TDNSDispInfo* item, TItemFinished onFinish, int32_t timeout, int32_t times,
                   TWorkerSetup setup)
        {
            ++Started;
            Timeout = timeout;
            Times = times;
            TStarted started{item, std::move(onFinish), std::move(setup.Control), std::move(setup.OnTry)};
            if (Hold) {
                Held.push_back(std::move(started));
                return;
            }
            // Never from inside the dispatch that starts the worker.
            QTimer::singleShot(0, Window.data(), [self = shared_from_this(), started] { self->Finish(started); });
        }

        void Finish(const TStarted& started)
        {
            const auto found = Results.find(started.Item->Name);
            const TFakeResult result = found != Results.end() ? found->second : NoResponse(Times);
            if (started.OnTry)
                for (size_t i = 0; i < result.Tries.size(); ++i) {
                    TTryOutcome outcome;
                    outcome.Ok = result.Tries[i].has_value();
                    outcome.Elapsed = result.Tries[i].value_or(std::chrono::microseconds(0));
                    outcome.Cause = outcome.Ok ? TTryCause::None : TTryCause::Timeout;
                    started.OnTry(*started.Item, int(i), outcome);
                }
            if (started.OnTry)
                for (size_t i = 0; i < result.Outcomes.size(); ++i)
                    started.OnTry(*started.Item, int(i), result.Outcomes[i]);
            started.Item->State = result.State;
            started.Item->AvgTime = result.AvgTime;
            started.Item->FailCount = result.FailCount;
            if (result.PingDenied && started.Control)
                started.Control->NotePingDenied();
            if (result.Shortage && started.Control)
                started.Control->NoteShortage(result.Shortage);
            started.OnFinish(started.Item);
        }
    };

    std::shared_ptr<TState> FState;
    TfrmTarnix::TWorkerStarterScope FScope;
};
