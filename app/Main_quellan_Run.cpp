#include "app/Main_quellan.h"

#include "app/Apperror.h"
#include "app/Runalerts.h"
#include "engine/Itemtexts.h"
#include "app/Windowsettings.h"
#include "dialogs/Watchinterval.h"
#include "vqlib/Gbk.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Vqtick.h"
#include "vqlib/Vqwindows.h"

#include "ui_Main_quellan.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QTime>
#include <QTimer>

#include <sys/resource.h>

#include <cerrno>
#include <utility>

namespace {

THook<TfrmTarnix::TWatchWait> WatchWaitHook;

const QColor kFlashColour(0, 128, 0);

QColor ButtonFace() { return QApplication::palette().color(QPalette::Button); }

QColor PanelColour(const QLabel* panel) { return panel->palette().color(QPalette::Window); }

void SetPanelColour(QLabel* panel, const QColor& colour)
{
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, colour);
    panel->setPalette(palette);
}

QString PingDeniedText()
{
    // ICMPv6 ping sockets obey the same sysctl, and the capability covers both.
    return QStringLiteral("Ping测速项发不出ICMP（IPv6为ICMPv6）回显请求：本程序既不能打开ICMP数据报套接字，"
                          "也没有打开原始套接字的权限，所以这些测速项都没响应。\n\n"
                          "以下两种办法任选其一（都要用root权限执行，IPv4和IPv6都适用）：\n"
                          "1. 给程序加上cap_net_raw能力：\n"
                          "    setcap cap_net_raw+ep %1\n"
                          "2. 允许用户组打开ICMP数据报套接字：\n"
                          "    sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"")
        .arg(QCoreApplication::applicationFilePath());
}

// What the tries of a run ran out of (engine/Shortage.h), and what helps.
QString ShortageText(int error)
{
    switch (error) {
    case EMFILE: {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        return QStringLiteral("有些测速打不开套接字：本程序同时打开的文件数已达上限（%1个），这些测速都算作失败。\n\n"
                              "可以在启动本程序前用 ulimit -n 提高这个上限。")
            .arg(static_cast<qulonglong>(limit.rlim_cur));
    }
    case ENFILE:
        return QStringLiteral("有些测速打不开套接字：系统能同时打开的文件数已达上限（sysctl fs.file-max），"
                              "这些测速都算作失败。");
    case ENOMEM:
        return QStringLiteral("有些测速因内存不足无法进行，这些测速都算作失败。");
    default:
        return QStringLiteral("有些测速发不出请求：系统的网络缓冲区已用完，这些测速都算作失败。");
    }
}

// Counts the run's callbacks under way on the UI thread.
class TCallbackDepth {
public:
    explicit TCallbackDepth(int& depth) : FDepth(depth) { ++FDepth; }
    ~TCallbackDepth() { --FDepth; }
    TCallbackDepth(const TCallbackDepth&) = delete;
    TCallbackDepth& operator=(const TCallbackDepth&) = delete;

private:
    int& FDepth;
};

}  // namespace

TfrmTarnix::TWatchWaitScope::TWatchWaitScope(TWatchWait wait) : FScope(WatchWaitHook, std::move(wait)) {}

// A run reads from here: the window prepares, ResolveHosts and
// StartWaitingItems hand over to the engine's run (engine/Testrun.h), whose
// workers report back through ItemFinished until RunCompleted.
void TfrmTarnix::actTestSpendingExecute() { BeginRun(); }

void TfrmTarnix::BeginRun()
{
    if (FRunCallbackDepth == 0)
        FStoppedRuns.clear();
    FReported.assign(Infos.size(), false);
    FTesting = true;
    FRunStarted = std::chrono::system_clock::now();
    ForgetTries();
    UpdateActions();
    if (!FTesting)
        return;  // stopped by an event served meanwhile
    SetPanelColour(ui->pnlAvgTime, ButtonFace());
    ui->pnlAvgTime->setText(QString());
    tmrFlash->start();
    ui->pnlFinish->setText(QStringLiteral("0"));
    ShowRunStatus(FWatching ? QStringLiteral("正在解析域名...") : QStringLiteral("正在解析域名成IP地址..."));
    ResolveHosts();
}

// The names are looked up off this thread: the window repaints, flashes and
// opens help and about meanwhile, and closing it abandons the lookups.
void TfrmTarnix::ResolveHosts()
{
    TestRun().ResolveHosts([this] {
        const TCallbackDepth depth(FRunCallbackDepth);
        HostsResolved();
    });
}

void TfrmTarnix::HostsResolved()
{
    ShowRunStatus(QStringLiteral("测速正在进行中..."));
    TestRun().Begin();
    RefreshList();
    if (!FTesting)
        return;  // stopped by an event served meanwhile
    ShowFinishedCount();
    // An empty plan completes here at once.
    StartWaitingItems(TTestRun::kFirstWorkers);
}

TTestRun& TfrmTarnix::TestRun()
{
    if (FRun)
        return *FRun;
    FRun = std::make_unique<TTestRun>(Infos, FTimeout, FTestTimes);
    if (TTestRun::TWorkerStarter starter = InstalledWorkerStarter())
        FRun->SetWorkerStarter(std::move(starter));
    FRun->SetTryObserver([this, log = FTryLog.Observer()](const TDNSDispInfo& item, int index, const TTryOutcome& outcome) {
        log(item, index, outcome);
        TellTry(item, outcome);
    });
    FRun->Listener.ItemStarted = [this](TDNSDispInfo& item) { UpdateItemRow(nullptr, item); };
    FRun->Listener.ItemReported = [this](TDNSDispInfo& item) {
        const TCallbackDepth depth(FRunCallbackDepth);
        ItemFinished(&item);
    };
    FRun->Listener.Completed = [this] {
        const TCallbackDepth depth(FRunCallbackDepth);
        RunCompleted();
    };
    return *FRun;
}

void TfrmTarnix::StartWaitingItems(int count) { TestRun().StartWaitingItems(count); }

void TfrmTarnix::ItemFinished(TDNSDispInfo* item)
{
    if (const auto index = static_cast<size_t>(item - Infos.data()); index < FReported.size())
        FReported[index] = true;
    UpdateItemRow(nullptr, *item);
    ShowFinishedCount();
}

void TfrmTarnix::ShowFinishedCount() { ui->pnlFinish->setText(QString::number(TestRun().FinishedCount())); }

void TfrmTarnix::RunCompleted()
{
    ShowRunStatus(QStringLiteral("测速已完成。"));
    RefreshList();  // the overall average; pnlFinish emptied
    tmrFlash->stop();
    SetPanelColour(ui->pnlAvgTime, ButtonFace());
    FTesting = false;
    KeepTries();
    UpdateActions();
    RecordRun();
    FAlerts->RunCompleted(FProjectName.empty() ? std::string() : GbkToUtf8(FProjectName), AnswerStates(Infos),
                          OverallAverage(Infos));
    if (TestRun().PingDenied() && !FPingDeniedShown) {
        FPingDeniedShown = true;
        // Once the run's report has returned: the box waits for the user.
        QTimer::singleShot(0, this, [this] { RunGuarded([this] { ExplainPingDenied(); }); });
    }
    if (const int shortage = TestRun().Shortage(); shortage && !FShortageShown) {
        FShortageShown = true;
        QTimer::singleShot(0, this, [shortage] { RunGuarded([shortage] { InfoBox(ShortageText(shortage)); }); });
    }
    emit RunEnded(true);
    if (FWatching)
        ScheduleWatchedRun();
}

// Ping items without rights show "没响应" like unanswered ones; this says why,
// once per start of the program.
void TfrmTarnix::ExplainPingDenied() { InfoBox(PingDeniedText()); }

void TfrmTarnix::tmrFlashTimer()
{
    SetPanelColour(ui->pnlAvgTime, PanelColour(ui->pnlAvgTime) == kFlashColour ? ButtonFace() : kFlashColour);
}

// The status text has the room left of the panels only: a watched run says
// which it is in place of part of the text.
void TfrmTarnix::ShowRunStatus(const QString& text)
{
    if (FWatching)
        ShowInfo(0, QStringLiteral("第%1次：").arg(FWatch.RunsStarted()) + text);
    else
        ShowInfo(0, text);
}

// On a worker's thread: the window's state is not touched here, only posted.
void TfrmTarnix::TellTry(const TDNSDispInfo& item, const TTryOutcome& outcome)
{
    using namespace std::chrono;
    const qint64 ended = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    // Infos does not change while a run is in progress.
    const int index = static_cast<int>(&item - Infos.data());
    const qint64 elapsed = outcome.Elapsed.count();
    QMetaObject::invokeMethod(
        this,
        [this, index, name = item.Name, ended, ok = outcome.Ok, elapsed] {
            RunGuarded([&] { emit TryMade(index, FromGbk(name), ended, ok, elapsed); });
        },
        Qt::QueuedConnection);
}

// --- stopping and continuous runs ---

TWindowSettings& TfrmTarnix::Settings()
{
    if (!FSettings)
        FSettings = std::make_unique<TWindowSettings>();
    return *FSettings;
}

// Ends a run in progress and a watch alike; between continuous runs it only
// ends the watch.
void TfrmTarnix::actStopTestExecute()
{
    const bool watching = FWatching;
    EndWatch();
    if (FTesting) {
        StopRun();
        return;
    }
    if (watching) {
        ShowInfo(0, QStringLiteral("连续测速已停止。"));
        UpdateActions();
    }
}

// Every try in flight is cut off; the items that reported keep their
// results, the others wait again as before the run, and nothing of the run
// goes to the history.
void TfrmTarnix::StopRun()
{
    if (FRun) {
        FRun->Shutdown();
        FStoppedRuns.push_back(std::move(FRun));
    }
    FReported.resize(Infos.size(), false);
    int finished = 0;
    for (size_t i = 0; i < Infos.size(); ++i) {
        if (FReported[i]) {
            ++finished;
            continue;
        }
        TDNSDispInfo& item = Infos[i];
        item.State = tsWaiting;
        item.AvgTime = 0.0;
        item.FailCount = 0;
    }
    KeepTries();
    for (size_t i = 0; i < Infos.size(); ++i)
        if (!FReported[i])
            FItemOutcomes[i] = TTryOutcomes(static_cast<size_t>(FTestTimes));
    if (finished == 0)
        FItemOutcomes.clear();  // nothing to show or export
    tmrFlash->stop();
    SetPanelColour(ui->pnlAvgTime, ButtonFace());
    FTesting = false;
    ui->pnlAvgTime->setText(QString());
    RefreshList();  // the finished items' average; pnlFinish emptied
    ShowInfo(0, QStringLiteral("测速已停止：已测完%1/%2项。").arg(finished).arg(Infos.size()));
    UpdateActions();
    emit RunEnded(false);
}

void TfrmTarnix::actWatchTestExecute()
{
    TfrmWatchInterval dialog(this);
    dialog.SetInterval(Settings().WatchInterval());
    if (dialog.exec() != QDialog::Accepted)
        return;
    Settings().SetWatchInterval(dialog.Interval());
    FWatch = TWatchSchedule(dialog.Interval());
    FWatching = true;
    ++FWatchGeneration;
    StartWatchedRun();
}

void TfrmTarnix::StartWatchedRun()
{
    if (!FWatching || FTesting)
        return;
    FWatch.RunStarted(CurrentClock().Now());
    BeginRun();
}

// Called as a run completes, inside the run's report: the next run always
// starts from the event loop, even when it is due at once.
void TfrmTarnix::ScheduleWatchedRun()
{
    const std::chrono::milliseconds delay = FWatch.DelayToNext(CurrentClock().Now());
    const QTime next = QTime::currentTime().addMSecs(static_cast<int>(delay.count()));
    ShowInfo(0, QStringLiteral("连续测速，下次") + next.toString(QStringLiteral("hh:mm:ss")));
    if (TWatchWait wait = WatchWaitHook.Get()) {
        wait(delay, [window = QPointer<TfrmTarnix>(this), generation = FWatchGeneration] {
            if (window && window->FWatchGeneration == generation)
                RunGuarded([&] { window->StartWatchedRun(); });
        });
        return;
    }
    tmrWatch->start(static_cast<int>(delay.count()));
}

void TfrmTarnix::EndWatch()
{
    FWatching = false;
    ++FWatchGeneration;
    tmrWatch->stop();
}

void TfrmTarnix::actNotifyExecute()
{
    Settings().SetNotify(ui->actNotify->isChecked());
    FAlerts->SetEnabled(ui->actNotify->isChecked());
}
