// A test run in the main window, against loopback HTTP servers the test starts.
// With ORVEL_SCREENSHOTS set to a directory, the window is saved there at each
// stage of the run.

#include "Windowscript.h"

#include "app/Uiexecutorqt.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Netns.h"
#include "tests/support/Noproxy.h"
#include "vqlib/Vqnet.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <optional>

namespace {

const QColor kGreen(0, 128, 0);

// One plan entry: name, target, method.
QString Entry(const QString& name, const std::string& target, int8_t method)
{
    return QStringLiteral("%1^%2^%3").arg(name, QString::fromStdString(target)).arg(method);
}

// Opens the plan p of these entries on the scratch directory.
TfrmTarnix& OpenPlan(TWindowScratch& scratch, const QStringList& entries)
{
    scratch.WriteStore(QStringLiteral("p=") + entries.join('#') + "\r\n");
    scratch.WriteSetting(QStringLiteral("p"));
    return scratch.Open();
}

// Starts a run of three items of method against target, lets their first
// tries begin, closes the window and returns how many milliseconds passed
// until the window and its run were gone; -1 when the run was not still
// measuring at the close.
qint64 CloseDuringTries(TWindowScratch& scratch, const std::string& target, int8_t method)
{
    QStringList entries;
    for (int i = 0; i < 3; ++i)
        entries << Entry(QStringLiteral("项%1").arg(i), target, method);
    TfrmTarnix& window = OpenPlan(scratch, entries);
    Trigger(window, "actTestSpending");
    QTest::qWait(400);  // every worker is in its first try now
    if (Enabled(window, "actTestSpending") || ColumnTexts(window, 3) != QStringList(3, QStringLiteral("测速中...")))
        return -1;
    QElapsedTimer timer;
    timer.start();
    if (!window.close())
        return -1;
    scratch.Window.reset();  // what the program does once its last window has closed
    return timer.elapsed();
}

QColor AvgColour(const QWidget& window)
{
    return Control<QLabel>(window, "pnlAvgTime")->palette().color(QPalette::Window);
}

bool FlashTimerRuns(const QWidget& window) { return Control<QTimer>(window, "tmrFlash")->isActive(); }

void Screenshot(QWidget& window, const char* name)
{
    if (const char* dir = std::getenv("ORVEL_SCREENSHOTS"))
        window.grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
}

}  // namespace

class TestMainWindowRun : public QObject {
    Q_OBJECT

    std::unique_ptr<TWindowScratch> Scratch;  // its script answers no box: none is expected

private slots:
    void initTestCase()
    {
        InstallQtUiExecutor();
        ClearProxyEnvironment();
    }

    void init() { Scratch = std::make_unique<TWindowScratch>(); }

    void cleanup()
    {
        QCOMPARE(Scratch->Boxes.Unexpected, 0);
        Scratch.reset();
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

        QStringList entries;
        for (int i = 0; i < 25; ++i)
            entries << Entry(QStringLiteral("站点%1").arg(i), i < 20 ? slow.HostPort() : fast.HostPort(), dtHomePage);
        entries << Entry(QStringLiteral("拒绝"), "127.0.0.1:" + std::to_string(THttpServer::RefusedPort()), dtHomePage);
        TfrmTarnix& window = OpenPlan(*Scratch, entries);
        window.resize(640, 480);
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        Trigger(window, "actTestSpending");
        // Twenty at once, the rest waiting; only help and about enabled.
        QCOMPARE(StatusText(window), QStringLiteral("测速正在进行中..."));
        for (int row = 0; row < 26; ++row)
            QCOMPARE(TimeText(window, row), row < 20 ? QStringLiteral("测速中...") : QStringLiteral("待测速"));
        QCOMPARE(PanelText(window, "pnlFinish"), QStringLiteral("0"));
        QVERIFY(FlashTimerRuns(window));
        for (const char* name : kRunLockedCommands)
            QVERIFY2(!Enabled(window, name), name);
        QVERIFY(Enabled(window, "actHelp"));
        QVERIFY(Enabled(window, "actAbout"));
        Screenshot(window, "1-started");

        // The average panel blinks green while the run goes on.
        QTRY_COMPARE_WITH_TIMEOUT(AvgColour(window), kGreen, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(AvgColour(window) != kGreen, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(PanelText(window, "pnlFinish").toInt() >= 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(TimeText(window, 20) != QStringLiteral("待测速"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(AvgColour(window), kGreen, 2000);
        Screenshot(window, "2-running");

        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 30000);
        Screenshot(window, "3-finished");
        QVERIFY(!FlashTimerRuns(window));
        QCOMPARE(AvgColour(window), QApplication::palette().color(QPalette::Button));
        QCOMPARE(PanelText(window, "pnlFinish"), QString());
        QVERIFY(Enabled(window, "actTestSpending"));

        // Every site measured without a failure; the average is theirs.
        double sum = 0;
        for (int row = 0; row < 25; ++row) {
            bool measured = false;
            sum += TimeText(window, row).toDouble(&measured);
            QVERIFY2(measured, qPrintable(TimeText(window, row)));
            QCOMPARE(List(window)->topLevelItem(row)->text(4), QString());
        }
        QCOMPARE(TimeText(window, 25), QStringLiteral("没响应"));
        QVERIFY(List(window)->topLevelItem(25)->text(4).endsWith(QStringLiteral("失败率5/5 ")));
        // The rows show rounded times, the panel the mean of the exact ones.
        QVERIFY(qAbs(PanelText(window, "pnlAvgTime").toDouble() - sum / 25) <= 0.006);
        QVERIFY(TimeText(window, 0).toDouble() >= 150);
    }

    void anEmptyPlanCompletesAtOnce()
    {
        TfrmTarnix& window = Scratch->Open();
        Trigger(window, "actTestSpending");
        QCOMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        QVERIFY(!FlashTimerRuns(window));
        QVERIFY(Enabled(window, "actTestSpending"));
        QCOMPARE(PanelText(window, "pnlAvgTime"), QString());
    }

    void anUnresolvedPingItemEndsWithoutResponse()
    {
        TfrmTarnix& window = OpenPlan(*Scratch, {Entry(QStringLiteral("x"), "no.such.host", dtPing)});
        TWASTool::SetHostLookup([](const std::string&) { return std::optional<std::string>(); });
        Trigger(window, "actTestSpending");
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 5000);
        TWASTool::SetHostLookup(nullptr);
        QCOMPARE(TimeText(window, 0), QStringLiteral("没响应"));
        QCOMPARE(List(window)->topLevelItem(0)->text(4), QStringLiteral("域名解析IP地址失败。失败率5/5 "));
    }

    void closingTheWindowDuringARunWaitsForTheWorkersBriefly()
    {
        THttpServer slow;
        THttpServer::TResponse page;
        page.DelayMs = 3000;
        slow.SetResponse(page);
        QStringList entries;
        for (int i = 0; i < 5; ++i)
            entries << Entry(QStringLiteral("慢%1").arg(i), slow.HostPort(), dtHomePage);
        TfrmTarnix& window = OpenPlan(*Scratch, entries);
        Trigger(window, "actTestSpending");
        QTest::qWait(100);
        QVERIFY(window.close());
        QElapsedTimer timer;
        timer.start();
        Scratch->Window.reset();  // fetches cut off, workers waited for, nothing reported into freed memory
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
        const qint64 took = CloseDuringTries(*Scratch, stalled.HostPort(), dtHomePage);
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
        const qint64 took = CloseDuringTries(*Scratch, "127.0.0.1", dtPing);
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
        const qint64 took = CloseDuringTries(*Scratch, address, dtDNSQuery);
        qInfo("DNS: window and run gone %lld ms after the close", static_cast<long long>(took));
        QVERIFY(took >= 0);
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QVERIFY(silent->QueryCount() >= 3);  // the tries were really waiting for it
    }
};

QTEST_MAIN(TestMainWindowRun)
#include "test_Main_quellan_Run.moc"
