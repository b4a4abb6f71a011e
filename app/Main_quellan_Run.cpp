#include "app/Main_quellan.h"

#include "app/Apperror.h"
#include "vqlib/Vqwindows.h"

#include "ui_Main_quellan.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QTimer>

#include <sys/resource.h>

#include <cerrno>

namespace {

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

}  // namespace

// A run reads from here: the window prepares, ResolveHosts and
// StartWaitingItems hand over to the engine's run (engine/Testrun.h), whose
// workers report back through ItemFinished until RunCompleted.
void TfrmTarnix::actTestSpendingExecute()
{
    FTesting = true;
    FRunStarted = std::chrono::system_clock::now();
    ForgetTries();
    UpdateActions();
    SetPanelColour(ui->pnlAvgTime, ButtonFace());
    ui->pnlAvgTime->setText(QString());
    tmrFlash->start();
    ui->pnlFinish->setText(QStringLiteral("0"));
    ShowInfo(0, QStringLiteral("正在解析域名成IP地址..."));
    ResolveHosts();
}

// The names are looked up off this thread: the window repaints, flashes and
// opens help and about meanwhile, and closing it abandons the lookups.
void TfrmTarnix::ResolveHosts()
{
    TestRun().ResolveHosts([this] { HostsResolved(); });
}

void TfrmTarnix::HostsResolved()
{
    ShowInfo(0, QStringLiteral("测速正在进行中..."));
    TestRun().Begin();
    RefreshList();
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
    FRun->SetTryObserver(FTryLog.Observer());
    FRun->Listener.ItemStarted = [this](TDNSDispInfo& item) { UpdateItemRow(nullptr, item); };
    FRun->Listener.ItemReported = [this](TDNSDispInfo& item) { ItemFinished(&item); };
    FRun->Listener.Completed = [this] { RunCompleted(); };
    return *FRun;
}

void TfrmTarnix::StartWaitingItems(int count) { TestRun().StartWaitingItems(count); }

void TfrmTarnix::ItemFinished(TDNSDispInfo* item)
{
    UpdateItemRow(nullptr, *item);
    ShowFinishedCount();
}

void TfrmTarnix::ShowFinishedCount() { ui->pnlFinish->setText(QString::number(TestRun().FinishedCount())); }

void TfrmTarnix::RunCompleted()
{
    ShowInfo(0, QStringLiteral("测速已完成。"));
    RefreshList();  // the overall average; pnlFinish emptied
    tmrFlash->stop();
    SetPanelColour(ui->pnlAvgTime, ButtonFace());
    FTesting = false;
    KeepTries();
    UpdateActions();
    RecordRun();
    if (TestRun().PingDenied() && !FPingDeniedShown) {
        FPingDeniedShown = true;
        // Once the run's report has returned: the box waits for the user.
        QTimer::singleShot(0, this, [this] { RunGuarded([this] { ExplainPingDenied(); }); });
    }
    if (const int shortage = TestRun().Shortage(); shortage && !FShortageShown) {
        FShortageShown = true;
        QTimer::singleShot(0, this, [shortage] { RunGuarded([shortage] { InfoBox(ShortageText(shortage)); }); });
    }
}

// Ping items without rights show "没响应" like unanswered ones; this says why,
// once per start of the program.
void TfrmTarnix::ExplainPingDenied() { InfoBox(PingDeniedText()); }

void TfrmTarnix::tmrFlashTimer()
{
    SetPanelColour(ui->pnlAvgTime, PanelColour(ui->pnlAvgTime) == kFlashColour ? ButtonFace() : kFlashColour);
}
