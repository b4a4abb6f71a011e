#include "app/Main_quellan.h"

#include "ui_Main_quellan.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QTimer>

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

}  // namespace

TTestRun& TfrmTarnix::TestRun()
{
    if (FRun)
        return *FRun;
    FRun = std::make_unique<TTestRun>(Infos, FTimeout, FTestTimes, FLock, FRunningCount);
    if (TTestRun::TWorkerStarter starter = InstalledWorkerStarter())
        FRun->SetWorkerStarter(std::move(starter));
    FRun->Listener.ItemStarted = [this](TDNSDispInfo& item) { UpdateItemRow(nullptr, item); };
    FRun->Listener.ItemReported = [this](TDNSDispInfo& item) {
        UpdateItemRow(nullptr, item);
        ui->pnlFinish->setText(QString::number(ui->pnlFinish->text().toInt() + 1));
    };
    FRun->Listener.Completed = [this] {
        ShowInfo(0, QStringLiteral("测速已完成。"));
        RefreshList();
        tmrFlash->stop();
        SetPanelColour(ui->pnlAvgTime, ButtonFace());
        FTesting = false;
        UpdateActions();
    };
    return *FRun;
}

void TfrmTarnix::actTestSpendingExecute()
{
    TTestRun& run = TestRun();
    FTesting = true;
    UpdateActions();
    SetPanelColour(ui->pnlAvgTime, ButtonFace());
    ui->pnlAvgTime->setText(QString());
    tmrFlash->start();
    ui->pnlFinish->setText(QStringLiteral("0"));
    ShowInfo(0, QStringLiteral("正在解析域名成IP地址..."));
    ResolveHosts();
    ShowInfo(0, QStringLiteral("测速正在进行中..."));
    run.MarkAllWaiting();
    RefreshList();
    ui->pnlFinish->setText(QStringLiteral("0"));
    // Twenty workers; an empty plan completes here at once.
    run.Start();
}

void TfrmTarnix::ResolveHosts() { TestRun().ResolveHosts(); }

void TfrmTarnix::StartWaitingItems(int count) { TestRun().StartWaitingItems(count); }

void TfrmTarnix::ItemFinished(TDNSDispInfo* item) { TestRun().ItemFinished(item); }

void TfrmTarnix::tmrFlashTimer()
{
    SetPanelColour(ui->pnlAvgTime, PanelColour(ui->pnlAvgTime) == kFlashColour ? ButtonFace() : kFlashColour);
}
