// A test run in the main window, driven as a user does it: a plan in the
// store, the start command, the list and the status bar read by their names.
// The targets are loopback HTTP servers the test starts. With
// ORVEL_SCREENSHOTS set to a directory, the window is saved there at each
// stage of the run.

#include "ui_Main_quellan.h"

#include "Windowscript.h"

#include "app/Uiexecutorqt.h"
#include "engine/Icmpecho.h"
#include "tests/support/Certificates.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Heldlookups.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Netns.h"
#include "tests/support/Noproxy.h"
#include "tests/support/Testclock.h"
#include "vqlib/Vqhttp.h"
#include "vqlib/Vqnet.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>

namespace {

const QColor kGreen(0, 128, 0);

// "name^host^method" of one item of a plan.
QString PlanItem(const QString& name, const std::string& target, int method)
{
    return name + "^" + QString::fromStdString(target) + "^" + QString::number(method);
}

// Opens a window on a store whose only plan, the one last opened, holds items.
TfrmTarnix& OpenPlan(TWindowScratch& scratch, const QStringList& items)
{
    scratch.WriteStore(QStringLiteral("run=") + items.join('#') + "\r\n");
    scratch.WriteSetting(QStringLiteral("run"));
    return scratch.Open();
}

QTimer* FlashTimer(TfrmTarnix& window) { return Control<QTimer>(window, "tmrFlash"); }

QString NoteText(const QWidget& window, int row) { return List(window)->topLevelItem(row)->text(4); }

int RowsShowing(TfrmTarnix& window, const QString& time)
{
    int count = 0;
    for (int row = 0; row < List(window)->topLevelItemCount(); ++row)
        count += TimeText(window, row) == time;
    return count;
}

QColor AvgColour(TfrmTarnix& window) { return Control<QLabel>(window, "pnlAvgTime")->palette().color(QPalette::Window); }

void StartRun(TfrmTarnix& window) { Trigger(window, "actTestSpending"); }

// Starts a run of three items of method against target, waits until
// triesBegun says all three first tries are under way, closes the window and
// returns how many milliseconds passed until the window and its run were
// gone; -1 when the tries did not begin or the run was not still measuring at
// the close.
qint64 CloseDuringTries(const std::string& target, int8_t method, const std::function<bool()>& triesBegun)
{
    TWindowScratch scratch;
    QStringList items;
    for (int i = 0; i < 3; ++i)
        items << PlanItem(QStringLiteral("项%1").arg(i), target, method);
    TfrmTarnix& window = OpenPlan(scratch, items);
    StartRun(window);
    if (!QTest::qWaitFor(triesBegun, 10000))
        return -1;
    if (Action(window, "actTestSpending")->isEnabled() || RowsShowing(window, QStringLiteral("测速中...")) != 3)
        return -1;
    QElapsedTimer timer;
    timer.start();
    if (!window.close() || scratch.Boxes.Unexpected != 0)  // a run changes no plan: closing asks nothing
        return -1;
    scratch.Window.reset();  // what the program does once its last window has closed
    return timer.elapsed();
}

// Every name is 127.0.0.1 but those that begin with "bad", which have none.
std::shared_ptr<THeldLookups> SlowNameServer()
{
    return std::make_shared<THeldLookups>([](const std::string& host) -> std::optional<std::string> {
        if (host.starts_with("bad"))
            return std::nullopt;
        return "127.0.0.1";
    });
}

// A plan of count Ping items named "hostN.test", the last one "bad.test".
QStringList NamedPingItems(int count)
{
    QStringList items;
    for (int i = 0; i < count; ++i) {
        const std::string host = i + 1 < count ? "host" + std::to_string(i) + ".test" : "bad.test";
        items << PlanItem(QStringLiteral("名%1").arg(i), host, dtPing);
    }
    return items;
}

// A window on a plan of count named Ping items whose lookups are held, with
// workers that measure nothing.
struct TResolvingWindow {
    explicit TResolvingWindow(int count)
        : Count(count), Window(OpenPlan(Scratch, NamedPingItems(count))), Workers(Window)
    {
    }
    // Starts a run; true once every name is being looked up at once.
    bool StartRun()
    {
        ::StartRun(Window);
        return Server->WaitFor([this](int inFlight, int) { return inFlight == Count; });
    }

    int Count;
    std::shared_ptr<THeldLookups> Server = SlowNameServer();
    THostLookupScope Lookup{Server->Lookup()};
    TWindowScratch Scratch;
    TfrmTarnix& Window;
    TFakeWorkers Workers;
};

// Opens the help or about dialog and closes it again with Escape.
bool OpensAndCloses(TfrmTarnix& window, const char* action, const char* dialog)
{
    bool shown = false;
    WhenModal(QString::fromLatin1(dialog), [&shown](QDialog& d) {
        shown = true;
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    Trigger(window, action);
    return shown;
}

void Screenshot(TfrmTarnix& window, const char* name)
{
    const char* dir = std::getenv("ORVEL_SCREENSHOTS");
    if (!dir)
        return;
    window.grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
    // On an X server (xvfb-run), the whole screen as well, as a user sees it.
    if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
        QTest::qWait(300);
        const std::string command = "import -window root '" + std::string(dir) + "/" + name + "-screen.png'";
        if (std::system(command.c_str()) != 0)
            qWarning("no screen shot: %s", command.c_str());
    }
}

}  // namespace

class TestMainWindowRun : public QObject {
    Q_OBJECT

    // The pauses between tries take no time here; the servers' delays do.
    TTestClock FClock;
    TClockScope FClockScope{FClock};

private slots:
    void initTestCase()
    {
        InstallQtUiExecutor();
        ClearProxyEnvironment();
    }


    void aRunShowsItsProgressAndEndsWithTheAverage()
    {
        const int slowMs = 300, fastMs = 150;
        const size_t pausesBefore = FClock.Pauses().size();
        THttpServer fast, slow;
        THttpServer::TResponse page;
        page.BodySize = 4000;
        page.DelayMs = fastMs;
        fast.SetResponse(page);
        page.DelayMs = slowMs;
        slow.SetResponse(page);

        QStringList items;
        for (int i = 0; i < 25; ++i)
            items << PlanItem(QStringLiteral("站点%1").arg(i), i < 20 ? slow.HostPort() : fast.HostPort(), dtHomePage);
        items << PlanItem(QStringLiteral("拒绝"), "127.0.0.1:" + std::to_string(THttpServer::RefusedPort()), dtHomePage);
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, items);
        window.resize(640, 480);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QLabel* finished = Control<QLabel>(window, "pnlFinish");

        StartRun(window);
        // Twenty at once, the rest waiting; only help and about enabled.
        QCOMPARE(StatusText(window), QStringLiteral("测速正在进行中..."));
        for (int row = 0; row < 26; ++row)
            QCOMPARE(TimeText(window, row), row < 20 ? QStringLiteral("测速中...") : QStringLiteral("待测速"));
        QCOMPARE(finished->text(), QStringLiteral("0"));
        QVERIFY(FlashTimer(window)->isActive());
        for (const char* name : {"actNewProject", "actOpenProject", "actSaveProject", "actSaveAsProject", "actDelProject",
                                 "actAddItem", "actDelItem", "actModifyItem", "actTestSpending"})
            QVERIFY2(!Action(window, name)->isEnabled(), name);
        QVERIFY(Action(window, "actHelp")->isEnabled());
        QVERIFY(Action(window, "actAbout")->isEnabled());
        Screenshot(window, "1-started");

        // The average panel blinks green while the run goes on; the finished
        // panel counts the reports, each of which starts a waiting item.
        QTRY_COMPARE_WITH_TIMEOUT(AvgColour(window), kGreen, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(AvgColour(window) != kGreen, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(finished->text().toInt() >= 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(TimeText(window, 20) != QStringLiteral("待测速"), 10000);
        QCOMPARE(RowsShowing(window, QStringLiteral("测速中...")) + RowsShowing(window, QStringLiteral("待测速")),
                 26 - finished->text().toInt());
        QTRY_COMPARE_WITH_TIMEOUT(AvgColour(window), kGreen, 2000);
        Screenshot(window, "2-running");

        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 30000);
        Screenshot(window, "3-finished");
        QVERIFY(!FlashTimer(window)->isActive());
        QCOMPARE(AvgColour(window), QApplication::palette().color(QPalette::Button));
        QCOMPARE(finished->text(), QString());
        QVERIFY(Action(window, "actTestSpending")->isEnabled());
        QCOMPARE(RowsShowing(window, QStringLiteral("测速中...")), 0);

        // Every page answered every try: a time with two decimals and no
        // failure text. The texts are the averages rounded to the hundredth,
        // so their mean is the overall average to within a hundredth.
        double sum = 0;
        for (int row = 0; row < 25; ++row) {
            bool number = false;
            const double time = TimeText(window, row).trimmed().toDouble(&number);
            QVERIFY2(number, qPrintable(TimeText(window, row)));
            QVERIFY2(time >= (row < 20 ? slowMs : fastMs), qPrintable(TimeText(window, row)));
            QCOMPARE(NoteText(window, row), QString());
            sum += time;
        }
        QCOMPARE(TimeText(window, 25), QStringLiteral("没响应"));
        QVERIFY(NoteText(window, 25).endsWith(QStringLiteral("失败率5/5 ")));
        const QString average = PanelText(window, "pnlAvgTime");
        QVERIFY2(average.size() - average.indexOf('.') == 3, qPrintable(average));
        QVERIFY2(std::abs(average.toDouble() - sum / 25) <= 0.01, qPrintable(average));
        QCOMPARE(FClock.Pauses().size() - pausesBefore, size_t(26 * 5));
        QVERIFY(window.close());
        QCOMPARE(scratch.Boxes.Unexpected, 0);  // a run changes no plan: closing asks nothing
    }

    // IPv6 and HTTPS items beside each other: each shows its time, a
    // certificate for another name ends 没响应, a name with only an IPv6
    // address shows it in the note.
    void aRunMeasuresIPv6AndHttpsItems()
    {
        TTestCertificates certificates;
        if (!certificates.Ok())
            QSKIP(qPrintable("no test certificates: " + QString::fromStdString(certificates.Why())));
        std::unique_ptr<THttpServer> plain6, secure4, secure6;
        try {
            plain6 = std::make_unique<THttpServer>(THttpServer::TOptions{AF_INET6, "", ""});
            secure6 = std::make_unique<THttpServer>(
                THttpServer::TOptions{AF_INET6, certificates.Good(), certificates.KeyFile()});
        } catch (const std::runtime_error& error) {
            QSKIP(qPrintable(QStringLiteral("no IPv6 loopback here: ") + error.what()));
        }
        secure4 = std::make_unique<THttpServer>(
            THttpServer::TOptions{AF_INET, certificates.Good(), certificates.KeyFile()});
        THttpServer wrongName(THttpServer::TOptions{AF_INET, certificates.WrongName(), certificates.KeyFile()});
        THttpServer::TResponse page;
        page.BodySize = 4000;
        for (THttpServer* server : {plain6.get(), secure4.get(), secure6.get(), &wrongName})
            server->SetResponse(page);
        const vqlib::THttpTrustScope trust(certificates.CaFile());
        THostLookupScope lookup([](const std::string& host) -> std::vector<std::string> {
            return host == "six.test" ? std::vector<std::string>{"::1"} : std::vector<std::string>{};
        });
        const bool canPing6 = TIcmpEcho(TIcmpEcho::TKind::Any, AF_INET6).IsOpen();
        if (!canPing6)
            qInfo("no ICMPv6 socket may be opened here: the Ping rows are left out");

        QStringList items = {
            PlanItem(QStringLiteral("IPv6首页"), plain6->HostPort(), dtHomePage),
            PlanItem(QStringLiteral("HTTPS"), secure4->Url() + "/", dtHomePage),
            PlanItem(QStringLiteral("HTTPS IPv6"), "HTTPS" + secure6->Url().substr(5), dtHomePage),
            PlanItem(QStringLiteral("证书名不符"), wrongName.Url() + "/", dtHomePage),
        };
        if (canPing6) {
            items << PlanItem(QStringLiteral("IPv6 Ping"), "::1", dtPing);
            items << PlanItem(QStringLiteral("只有IPv6的域名"), "six.test", dtPing);
        }
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, items);
        window.resize(640, 300);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        StartRun(window);
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 30000);
        Screenshot(window, "ipv6-https-run");
        for (int row : {0, 1, 2, 4, 5}) {
            if (row >= List(window)->topLevelItemCount())
                continue;
            bool number = false;
            TimeText(window, row).trimmed().toDouble(&number);
            QVERIFY2(number, qPrintable(RowNames(window)[row] + ": " + TimeText(window, row)));
        }
        QCOMPARE(TimeText(window, 3), QStringLiteral("没响应"));
        QCOMPARE(NoteText(window, 3), QStringLiteral("失败率5/5 "));
        if (canPing6) {
            QCOMPARE(NoteText(window, 4), QString());
            QCOMPARE(NoteText(window, 5), QStringLiteral("IP[::1] "));
        }
        QCOMPARE(secure6->Requests().size(), size_t(5));
        QVERIFY(window.close());
    }

    void anEmptyPlanCompletesAtOnce()
    {
        TWindowScratch scratch;
        TfrmTarnix& window = scratch.Open();
        StartRun(window);
        QCOMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        QVERIFY(!FlashTimer(window)->isActive());
        QVERIFY(Action(window, "actTestSpending")->isEnabled());
        QCOMPARE(PanelText(window, "pnlAvgTime"), QString());
    }

    // While the names are looked up the window lives: it flashes, opens help
    // and about, and starts nothing; once the last has answered the run goes
    // on with every address filled in.
    void aSlowResolutionKeepsTheWindowAliveAndFillsEveryItem()
    {
        TResolvingWindow run(30);
        TfrmTarnix& window = run.Window;
        for (int i = 0; i < 29; ++i)
            run.Workers.Set(QStringLiteral("名%1").arg(i), Measured(0.04));
        QVERIFY(run.StartRun());
        QCOMPARE(StatusText(window), QStringLiteral("正在解析域名成IP地址..."));
        QTRY_COMPARE_WITH_TIMEOUT(AvgColour(window), kGreen, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(AvgColour(window) != kGreen, 2000);
        QVERIFY(OpensAndCloses(window, "actHelp", "TfrmHelp"));
        QVERIFY(OpensAndCloses(window, "actAbout", "TfrmAbout"));
        for (const char* name : kRunLockedCommands)
            QVERIFY2(!Enabled(window, name), name);
        QCOMPARE(StatusText(window), QStringLiteral("正在解析域名成IP地址..."));
        QCOMPARE(run.Workers.Started(), 0);
        QCOMPARE(RowsShowing(window, QStringLiteral("测速中...")), 0);
        Screenshot(window, "0-resolving");

        run.Server->Open();
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 10000);
        QCOMPARE(run.Workers.Started(), 30);
        for (int row = 0; row < 29; ++row) {
            QCOMPARE(NoteText(window, row), QStringLiteral("IP[127.0.0.1] "));
            QCOMPARE(TimeText(window, row), QStringLiteral("   0.04"));
        }
        QCOMPARE(NoteText(window, 29), QStringLiteral("域名解析IP地址失败。失败率5/5 "));
        QCOMPARE(PanelText(window, "pnlAvgTime"), QStringLiteral("0.04"));
    }

    // Closing the window while the names are looked up waits for none of
    // them; their answers, when they come, reach nobody.
    void closingTheWindowDuringTheResolutionEndsTheRunAtOnce()
    {
        TResolvingWindow run(5);
        QVERIFY(run.StartRun());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(run.Window.close());
        QCOMPARE(run.Scratch.Boxes.Unexpected, 0);
        run.Scratch.Window.reset();  // what the program does once its last window has closed
        const qint64 took = timer.elapsed();
        qInfo("window and run gone %lld ms after the close", static_cast<long long>(took));
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QCOMPARE(run.Server->Answered(), 0);  // nobody waited for them
        run.Server->Open();
        QVERIFY(run.Server->WaitFor([](int, int answered) { return answered == 5; }));
        QTest::qWait(100);  // a late answer would now run into the freed window
        QCOMPARE(run.Workers.Started(), 0);
    }

    void anUnresolvedPingItemEndsWithoutResponse()
    {
        THostLookupScope lookup([](const std::string&) { return std::optional<std::string>(); });
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, {PlanItem(QStringLiteral("x"), "no.such.host", dtPing)});
        StartRun(window);
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 5000);
        QCOMPARE(TimeText(window, 0), QStringLiteral("没响应"));
        QCOMPARE(NoteText(window, 0), QStringLiteral("域名解析IP地址失败。失败率5/5 "));
    }

    void aSecondRunCountsFromZeroAgain()
    {
        THttpServer quick, slow;  // far apart, so that the count of one report shows
        THttpServer::TResponse page;
        page.DelayMs = 20;
        quick.SetResponse(page);
        page.DelayMs = 300;
        slow.SetResponse(page);
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, {PlanItem(QStringLiteral("a"), quick.HostPort(), dtHomePage),
                                                PlanItem(QStringLiteral("b"), slow.HostPort(), dtHomePage)});
        QLabel* finished = Control<QLabel>(window, "pnlFinish");
        for (int round = 0; round < 2; ++round) {
            StartRun(window);
            QCOMPARE(finished->text(), QStringLiteral("0"));
            QTRY_COMPARE_WITH_TIMEOUT(finished->text(), QStringLiteral("1"), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 10000);
            QCOMPARE(finished->text(), QString());
            QCOMPARE(RowsShowing(window, QStringLiteral("测速中...")), 0);
        }
    }

    void closingTheWindowDuringARunWaitsForTheWorkersBriefly()
    {
        THttpServer slow;
        THttpServer::TResponse page;
        page.DelayMs = 3000;
        slow.SetResponse(page);
        TWindowScratch scratch;
        QStringList items;
        for (int i = 0; i < 5; ++i)
            items << PlanItem(QStringLiteral("慢%1").arg(i), slow.HostPort(), dtHomePage);
        TfrmTarnix& window = OpenPlan(scratch, items);
        StartRun(window);
        QVERIFY(QTest::qWaitFor([&] { return slow.Requests().size() == 5; }, 10000));  // every fetch waits
        QVERIFY(window.close());
        QCOMPARE(scratch.Boxes.Unexpected, 0);
        QElapsedTimer timer;
        timer.start();
        scratch.Window.reset();  // fetches cut off, workers waited for, nothing reported into freed memory
        const qint64 took = timer.elapsed();
        qInfo("window destroyed %lld ms after the close", static_cast<long long>(took));
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));  // not the 3 s the server holds them
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
        const qint64 took =
            CloseDuringTries(stalled.HostPort(), dtHomePage, [&] { return stalled.Requests().size() == 3; });
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
        const qint64 took = CloseDuringTries("127.0.0.1", dtPing, [] { return EchoRequestsSent() >= 3; });
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
        const qint64 took = CloseDuringTries(address, dtDNSQuery, [&] { return silent->QueryCount() >= 3; });
        qInfo("DNS: window and run gone %lld ms after the close", static_cast<long long>(took));
        QVERIFY(took >= 0);
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QVERIFY(silent->QueryCount() >= 3);  // the tries were really waiting for it
    }
};

QTEST_MAIN(TestMainWindowRun)
#include "test_Main_quellan_Run.moc"
