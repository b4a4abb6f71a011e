// A test run in the main window, against loopback HTTP servers the test starts.
// With ORVEL_SCREENSHOTS set to a directory, the window is saved there at each
// stage of the run.

#include "app/Main_quellan.h"
#include "app/Uiexecutorqt.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Netns.h"
#include "tests/support/Noproxy.h"
#include "vqlib/Gbkwidgets.h"
#include "vqlib/Vqnet.h"
#include "vqlib/Vqwindows.h"

#include "ui_Main_quellan.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <cstdlib>
#include <memory>

namespace {

const QColor kGreen(0, 128, 0);

TDNSDispInfo Item(const QString& name, const std::string& target, int8_t method)
{
    TDNSDispInfo item;
    item.Name = ToGbk(name).value();
    item.DomainIP = target;
    item.DoType = method;
    return item;
}

TDNSDispInfo HomePageItem(const QString& name, const std::string& target)
{
    return Item(name, target, dtHomePage);
}

// Starts a run of three items of method against target, lets their first
// tries begin, closes the window and returns how many milliseconds passed
// until the window and its run were gone; -1 when the run was not still
// measuring at the close.
qint64 CloseDuringTries(const std::string& target, int8_t method)
{
    auto window = std::make_unique<TfrmTarnix>();
    for (int i = 0; i < 3; ++i)
        window->Infos.push_back(Item(QStringLiteral("项%1").arg(i), target, method));
    window->RefreshList();
    window->show();
    window->ui->actTestSpending->trigger();
    QTest::qWait(400);  // every worker is in its first try now
    if (!window->FTesting || window->FRunningCount != 3)
        return -1;
    QElapsedTimer timer;
    timer.start();
    if (!window->close())
        return -1;
    window.reset();  // what the program does once its last window has closed
    return timer.elapsed();
}

QString TimeText(TfrmTarnix& window, int row) { return window.ui->lvInfos->topLevelItem(row)->text(3); }

QColor AvgColour(TfrmTarnix& window) { return window.ui->pnlAvgTime->palette().color(QPalette::Window); }

void Screenshot(TfrmTarnix& window, const char* name)
{
    if (const char* dir = std::getenv("ORVEL_SCREENSHOTS"))
        window.grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
}

}  // namespace

class TestMainWindowRun : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

private slots:
    void initTestCase()
    {
        InstallQtUiExecutor();
        ClearProxyEnvironment();
    }

    void init()
    {
        QVERIFY(FDir.isValid());
        TfrmTarnix::SetProgramDir(FDir.path().toStdString());
        SetMsgBoxHook([](const TMsgBoxRequest&) { return int(IDNO); });
    }

    void cleanup()
    {
        SetMsgBoxHook(nullptr);
        TfrmTarnix::SetProgramDir("");
    }

    void aRunShowsItsProgressAndEndsWithTheAverage()
    {
        THttpServer fast, slow;
        THttpServer::TResponse page;
        page.BodySize = 4000;
        page.DelayMs = 10;
        fast.SetResponse(page);
        page.DelayMs = 150;
        slow.SetResponse(page);

        TfrmTarnix window;
        window.resize(640, 480);
        for (int i = 0; i < 25; ++i)
            window.Infos.push_back(HomePageItem(QStringLiteral("站点%1").arg(i), i < 20 ? slow.HostPort() : fast.HostPort()));
        window.Infos.push_back(HomePageItem(QStringLiteral("拒绝"), "127.0.0.1:" + std::to_string(THttpServer::RefusedPort())));
        window.RefreshList();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        window.ui->actTestSpending->trigger();
        // Twenty at once, the rest waiting; only help and about enabled.
        QCOMPARE(window.ui->StatusBar->currentMessage(), QStringLiteral("测速正在进行中..."));
        for (int row = 0; row < 26; ++row)
            QCOMPARE(TimeText(window, row), row < 20 ? QStringLiteral("测速中...") : QStringLiteral("待测速"));
        QCOMPARE(window.FRunningCount, 20);
        QCOMPARE(window.ui->pnlFinish->text(), QStringLiteral("0"));
        QVERIFY(window.tmrFlash->isActive());
        QVERIFY(window.FTesting);
        for (QAction* action : {window.ui->actNewProject, window.ui->actOpenProject, window.ui->actSaveProject,
                                window.ui->actSaveAsProject, window.ui->actDelProject, window.ui->actAddItem,
                                window.ui->actDelItem, window.ui->actModifyItem, window.ui->actTestSpending})
            QVERIFY2(!action->isEnabled(), qPrintable(action->objectName()));
        QVERIFY(window.ui->actHelp->isEnabled());
        QVERIFY(window.ui->actAbout->isEnabled());
        Screenshot(window, "1-started");

        // The average panel blinks green while the run goes on.
        QTRY_COMPARE_WITH_TIMEOUT(AvgColour(window), kGreen, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(AvgColour(window) != kGreen, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(window.ui->pnlFinish->text().toInt() >= 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(TimeText(window, 20) != QStringLiteral("待测速"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(AvgColour(window), kGreen, 2000);
        Screenshot(window, "2-running");

        QTRY_COMPARE_WITH_TIMEOUT(window.ui->StatusBar->currentMessage(), QStringLiteral("测速已完成。"), 30000);
        Screenshot(window, "3-finished");
        QVERIFY(!window.FTesting);
        QVERIFY(!window.tmrFlash->isActive());
        QCOMPARE(AvgColour(window), QApplication::palette().color(QPalette::Button));
        QCOMPARE(window.ui->pnlFinish->text(), QString());
        QVERIFY(window.ui->actTestSpending->isEnabled());
        QCOMPARE(window.FRunningCount, 0);

        double sum = 0;
        for (int i = 0; i < 25; ++i) {
            QCOMPARE(window.Infos[i].State, uint8_t(tsDone));
            QCOMPARE(window.Infos[i].FailCount, 0);
            sum += window.Infos[i].AvgTime;
        }
        QCOMPARE(window.Infos[25].State, uint8_t(tsNoResponse));
        QCOMPARE(TimeText(window, 25), QStringLiteral("没响应"));
        QVERIFY(window.ui->lvInfos->topLevelItem(25)->text(4).endsWith(QStringLiteral("失败率5/5 ")));
        QCOMPARE(window.ui->pnlAvgTime->text(), QString::asprintf("%0.2f", sum / 25));
        QVERIFY(window.Infos[0].AvgTime >= 150);
    }

    void anEmptyPlanCompletesAtOnce()
    {
        TfrmTarnix window;
        window.ui->actTestSpending->trigger();
        QCOMPARE(window.ui->StatusBar->currentMessage(), QStringLiteral("测速已完成。"));
        QVERIFY(!window.FTesting);
        QVERIFY(!window.tmrFlash->isActive());
        QVERIFY(window.ui->actTestSpending->isEnabled());
        QCOMPARE(window.ui->pnlAvgTime->text(), QString());
    }

    void anUnresolvedPingItemEndsWithoutResponse()
    {
        TfrmTarnix window;
        TDNSDispInfo item;
        item.Name = "x";
        item.DomainIP = "no.such.host";
        THostLookupScope lookup([](const std::string&) { return std::optional<std::string>(); });
        window.Infos.push_back(item);
        window.RefreshList();
        window.ui->actTestSpending->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(window.ui->StatusBar->currentMessage(), QStringLiteral("测速已完成。"), 5000);
        QCOMPARE(TimeText(window, 0), QStringLiteral("没响应"));
        QCOMPARE(window.ui->lvInfos->topLevelItem(0)->text(4), QStringLiteral("域名解析IP地址失败。失败率5/5 "));
    }

    void closingTheWindowDuringARunWaitsForTheWorkersBriefly()
    {
        THttpServer slow;
        THttpServer::TResponse page;
        page.DelayMs = 3000;
        slow.SetResponse(page);
        auto window = std::make_unique<TfrmTarnix>();
        for (int i = 0; i < 5; ++i)
            window->Infos.push_back(HomePageItem(QStringLiteral("慢%1").arg(i), slow.HostPort()));
        window->RefreshList();
        window->show();
        window->ui->actTestSpending->trigger();
        QTest::qWait(100);
        QVERIFY(window->close());
        QElapsedTimer timer;
        timer.start();
        window.reset();  // fetches cut off, workers waited for, nothing reported into freed memory
        qInfo("window destroyed %lld ms after the close", static_cast<long long>(timer.elapsed()));
        QTest::qWait(200);  // any late report would now run into the freed window
    }

    // Closing the window during a try of each kind ends its run at once: the
    // program is gone about as soon as its window.
    void closingTheWindowDuringAHomePageTryEndsTheRunAtOnce()
    {
        THttpServer stalled;
        THttpServer::TResponse page;
        page.BodySize = 100000;
        page.StallBody = true;  // 30 s before the fetch would give up itself
        stalled.SetResponse(page);
        const qint64 took = CloseDuringTries(stalled.HostPort(), dtHomePage);
        qInfo("home page: window and run gone %lld ms after the close", static_cast<long long>(took));
        QVERIFY(took >= 0);
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
    }

    void closingTheWindowDuringAPingTryEndsTheRunAtOnce()
    {
        // A namespace of our own where nothing answers an echo request.
        TThreadNetns netns;
        if (!netns.Ok())
            QSKIP(qPrintable(QString::fromStdString("no network namespace of our own: " + netns.Why())));
        if (!WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"))
            QSKIP("cannot silence echo replies in the namespace");
        WriteSysctl("net/ipv4/ping_group_range", "0 2147483647");
        const qint64 took = CloseDuringTries("127.0.0.1", dtPing);
        qInfo("Ping: window and run gone %lld ms after the close", static_cast<long long>(took));
        QVERIFY(took >= 0);
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
    }

    void closingTheWindowDuringADnsTryEndsTheRunAtOnce()
    {
        const std::string address = "127.0.0.155";
        std::unique_ptr<TDnsResponder> silent;
        try {
            silent = std::make_unique<TDnsResponder>([](const std::string&, int) { return TDnsResponse{}; }, address, 53);
        } catch (const std::system_error& error) {
            QSKIP(qPrintable(QString::fromStdString("cannot bind " + address + ":53 here: " + error.what())));
        }
        const qint64 took = CloseDuringTries(address, dtDNSQuery);
        qInfo("DNS: window and run gone %lld ms after the close", static_cast<long long>(took));
        QVERIFY(took >= 0);
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QVERIFY(silent->QueryCount() >= 3);  // the tries were really waiting for it
    }
};

QTEST_MAIN(TestMainWindowRun)
#include "test_Main_quellan_Run.moc"
