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

#include "app/Runalerts.h"
#include "dialogs/Livechart.h"
#include "dialogs/Watchinterval.h"

#include <QAction>
#include <QChartView>
#include <QLineSeries>
#include <QListWidget>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
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

void Screenshot(QWidget& window, const char* name)
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

// Starts a run of three items of method against target, waits until
// triesBegun says all three first tries are under way, stops it, checks the
// window afterwards and sets took to the milliseconds from the stop to the
// commands enabled again.
void StopDuringTries(const std::string& target, int8_t method, const std::function<bool()>& triesBegun, qint64& took)
{
    took = -1;
    TWindowScratch scratch;
    const QString history = scratch.Path(QStringLiteral("History.db"));
    TfrmTarnix::THistoryFileScope historyFile(history.toStdString());
    QStringList items;
    for (int i = 0; i < 3; ++i)
        items << PlanItem(QStringLiteral("项%1").arg(i), target, method);
    TfrmTarnix& window = OpenPlan(scratch, items);
    QSignalSpy recorded(&window, &TfrmTarnix::HistoryRecorded);
    QSignalSpy ended(&window, &TfrmTarnix::RunEnded);
    StartRun(window);
    QVERIFY(QTest::qWaitFor(triesBegun, 10000));
    QCOMPARE(RowsShowing(window, QStringLiteral("测速中...")), 3);
    QVERIFY(Enabled(window, "actStopTest"));
    QElapsedTimer timer;
    timer.start();
    Trigger(window, "actStopTest");
    took = timer.elapsed();
    QVERIFY(Enabled(window, "actTestSpending"));
    QVERIFY(!Enabled(window, "actStopTest"));
    QVERIFY(!FlashTimer(window)->isActive());
    QCOMPARE(RowsShowing(window, QStringLiteral("待测速")), 3);
    QCOMPARE(StatusText(window), QStringLiteral("测速已停止：已测完0/3项。"));
    QCOMPARE(PanelText(window, "pnlAvgTime"), QString());
    QCOMPARE(PanelText(window, "pnlFinish"), QString());
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended[0][0].toBool(), false);
    QTest::qWait(200);  // a late report or record would come now
    QCOMPARE(RowsShowing(window, QStringLiteral("待测速")), 3);
    QCOMPARE(recorded.count(), 0);
    QVERIFY(!QFile::exists(history));
    QVERIFY(window.close());
    QCOMPARE(scratch.Boxes.Unexpected, 0);
}

// The waits of continuous runs, handed to the test instead of a timer.
struct TWatchWaits {
    std::vector<std::chrono::milliseconds> Delays;
    std::function<void()> Start;  // the last wait's
    TfrmTarnix::TWatchWaitScope Scope{[this](std::chrono::milliseconds delay, std::function<void()> start) {
        Delays.push_back(delay);
        Start = std::move(start);
    }};
};

// Starts continuous runs from the interval dialog, setting it to seconds;
// false when the dialog did not come up with the bounds 5..3600.
bool StartWatching(TfrmTarnix& window, int seconds, int* shownFirst = nullptr)
{
    bool shown = false;
    WhenModal<TfrmWatchInterval>(QStringLiteral("frmWatchInterval"), [&](TfrmWatchInterval& dialog) {
        shown = dialog.spnInterval->minimum() == 5 && dialog.spnInterval->maximum() == 3600
            && dialog.btnConfirm->isDefault();
        if (shownFirst)
            *shownFirst = dialog.spnInterval->value();
        Screenshot(dialog, "watch-interval");
        dialog.spnInterval->setValue(seconds);
        dialog.btnConfirm->click();
    });
    Trigger(window, "actWatchTest");
    return shown;
}

const char* const kIdleCommands[] = {"actNewProject", "actOpenProject", "actSaveProject", "actSaveAsProject",
                                     "actDelProject", "actAddItem", "actTestSpending", "actWatchTest"};

// The commands as during a run (true) or as between runs (false).
bool CommandsAsInARun(TfrmTarnix& window, bool running)
{
    for (const char* name : kIdleCommands)
        if (Enabled(window, name) == running) {
            qWarning("%s is %s", name, running ? "enabled" : "disabled");
            return false;
        }
    const QToolBar* tools = Control<QToolBar>(window, "ToolBar1");
    return Enabled(window, "actStopTest") == running
        && tools->widgetForAction(Action(window, "actStopTest"))->isEnabled() == running;
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

    // --- stopping a run ---

    // A stop during a try of each kind cuts the tries off at once.
    void stoppingDuringAHomePageTryEndsItAtOnce()
    {
        THttpServer stalled;
        THttpServer::TResponse page;
        page.BodySize = 100000;
        page.StallBody = true;
        stalled.SetResponse(page);
        qint64 took = -1;
        StopDuringTries(stalled.HostPort(), dtHomePage, [&] { return stalled.Requests().size() == 3; }, took);
        if (QTest::currentTestFailed())
            return;
        qInfo("home page: commands enabled %lld ms after the stop", static_cast<long long>(took));
        QVERIFY2(took <= 500, qPrintable(QString::number(took)));
    }

    void stoppingDuringAPingTryEndsItAtOnce()
    {
        TThreadNetns netns;
        if (!netns.Ok())
            QSKIP(qPrintable(QString::fromStdString("no network namespace of our own: " + netns.Why())));
        if (!WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"))
            QSKIP("cannot silence echo replies in the namespace");
        WriteSysctl("net/ipv4/ping_group_range", "0 2147483647");
        const unsigned long sentBefore = EchoRequestsSent();
        qint64 took = -1;
        StopDuringTries("127.0.0.1", dtPing, [&] { return EchoRequestsSent() >= sentBefore + 3; }, took);
        if (QTest::currentTestFailed())
            return;
        qInfo("Ping: commands enabled %lld ms after the stop", static_cast<long long>(took));
        QVERIFY2(took <= 500, qPrintable(QString::number(took)));
    }

    void stoppingDuringADnsTryEndsItAtOnce()
    {
        const std::string address = "127.0.0.156";
        std::unique_ptr<TDnsResponder> silent;
        try {
            silent = std::make_unique<TDnsResponder>([](const std::string&, int) { return TDnsResponse{}; }, address, 53);
        } catch (const std::system_error& error) {
            QSKIP(qPrintable(QString::fromStdString("cannot bind " + address + ":53 here: " + error.what())));
        }
        qint64 took = -1;
        StopDuringTries(address, dtDNSQuery, [&] { return silent->QueryCount() >= 3; }, took);
        if (QTest::currentTestFailed())
            return;
        qInfo("DNS: commands enabled %lld ms after the stop", static_cast<long long>(took));
        QVERIFY2(took <= 500, qPrintable(QString::number(took)));
    }

    // A port whose connection requests are dropped, in a namespace of our
    // own: the connect waits for its time limit.
    void stoppingDuringATcpTryEndsItAtOnce()
    {
        if (std::system("command -v nft >/dev/null 2>&1") != 0)
            QSKIP("nft is not installed");
        TThreadNetns netns;
        if (!netns.Ok())
            QSKIP(qPrintable(QString::fromStdString("no network namespace of our own: " + netns.Why())));
        if (std::system("nft add table ip t && nft add chain ip t in '{ type filter hook input priority 0; }'"
                        " && nft add rule ip t in tcp dport 9 drop")
            != 0)
            QSKIP("cannot drop connection requests in the namespace");
        QElapsedTimer since;
        since.start();
        qint64 took = -1;
        // Nothing to count on a dropped port: the tries have had 300 ms to begin.
        StopDuringTries("127.0.0.1:9", dtTCPConnect, [&] { return since.elapsed() > 300; }, took);
        if (QTest::currentTestFailed())
            return;
        qInfo("TCP: commands enabled %lld ms after the stop", static_cast<long long>(took));
        QVERIFY2(took <= 500, qPrintable(QString::number(took)));
    }

    // The items that reported keep their results and make the average; the
    // others wait again with nothing of the run; the next run starts afresh.
    void aStoppedRunKeepsTheFinishedItemsAndStartsAgain()
    {
        TWindowScratch scratch;
        const QString history = scratch.Path(QStringLiteral("History.db"));
        TfrmTarnix::THistoryFileScope historyFile(history.toStdString());
        const QStringList names = {"快", "慢", "断", "等", "未"};
        QStringList items;
        for (const QString& name : names)
            items << PlanItem(name, "127.0.0.1", dtPing);
        TfrmTarnix& window = OpenPlan(scratch, items);
        window.resize(640, 300);
        TFakeWorkers workers(window, true);
        workers.Set(QStringLiteral("快"), Tried({std::chrono::milliseconds(10), std::chrono::milliseconds(30)}));
        workers.Set(QStringLiteral("慢"), Measured(60.0));
        workers.Set(QStringLiteral("等"), Measured(1.0));
        QSignalSpy recorded(&window, &TfrmTarnix::HistoryRecorded);
        QSignalSpy ended(&window, &TfrmTarnix::RunEnded);
        QVERIFY(CommandsAsInARun(window, false));
        StartRun(window);
        QVERIFY(CommandsAsInARun(window, true));
        workers.Report(QStringLiteral("快"));
        workers.Report(QStringLiteral("慢"));
        workers.Report(QStringLiteral("断"));
        QCOMPARE(RowsShowing(window, QStringLiteral("测速中...")), 2);
        Screenshot(window, "stop-1-before");
        Trigger(window, "actStopTest");
        Screenshot(window, "stop-2-stopped");
        QCOMPARE(StatusText(window), QStringLiteral("测速已停止：已测完3/5项。"));
        QCOMPARE(TimeText(window, 0), QStringLiteral("  20.00"));
        QCOMPARE(TimeText(window, 1), QStringLiteral("  60.00"));
        QCOMPARE(TimeText(window, 2), QStringLiteral("没响应"));
        QCOMPARE(TimeText(window, 3), QStringLiteral("待测速"));
        QCOMPARE(TimeText(window, 4), QStringLiteral("待测速"));
        QCOMPARE(NoteText(window, 3), QString());
        QCOMPARE(PanelText(window, "pnlAvgTime"), QStringLiteral("40.00"));  // of the answered ones
        QCOMPARE(AvgColour(window), QApplication::palette().color(QPalette::Button));
        QVERIFY(CommandsAsInARun(window, false));
        QCOMPARE(ended.count(), 1);
        QCOMPARE(ended[0][0].toBool(), false);
        // The finished items' tries are shown, the others have none.
        SelectRows(window, {0});
        QVERIFY(Enabled(window, "actItemDetails"));
        SelectRows(window, {3});
        QVERIFY(!Enabled(window, "actItemDetails"));
        QVERIFY(Enabled(window, "actExportResults"));
        QTest::qWait(100);
        QCOMPARE(recorded.count(), 0);
        QVERIFY(!QFile::exists(history));

        // The workers cut off in the stopped run never report; a new run
        // measures every item.
        const int startedBefore = workers.Started();
        StartRun(window);
        QCOMPARE(workers.Started() - startedBefore, 5);
        QCOMPARE(PanelText(window, "pnlFinish"), QStringLiteral("0"));
        for (const QString& name : names)
            workers.Report(name, name == "等" || name == "未" ? 1 : 0);
        QCOMPARE(StatusText(window), QStringLiteral("测速已完成。"));
        QTRY_COMPARE_WITH_TIMEOUT(recorded.count(), 1, 5000);
        QCOMPARE(recorded[0][0].toBool(), true);
        QCOMPARE(TimeText(window, 3), QStringLiteral("   1.00"));
        QCOMPARE(ended.count(), 2);
        QCOMPARE(ended[1][0].toBool(), true);
    }

    // The names are still being looked up: nothing is started, then or when
    // the answers come.
    void stoppingDuringTheResolutionStartsNothing()
    {
        TResolvingWindow run(4);
        TfrmTarnix& window = run.Window;
        QVERIFY(run.StartRun());
        QVERIFY(Enabled(window, "actStopTest"));
        QElapsedTimer timer;
        timer.start();
        Trigger(window, "actStopTest");
        const qint64 took = timer.elapsed();
        qInfo("resolution: commands enabled %lld ms after the stop", static_cast<long long>(took));
        QVERIFY2(took <= 500, qPrintable(QString::number(took)));
        QCOMPARE(StatusText(window), QStringLiteral("测速已停止：已测完0/4项。"));
        QCOMPARE(RowsShowing(window, QStringLiteral("待测速")), 4);
        QVERIFY(CommandsAsInARun(window, false));
        run.Server->Open();
        QVERIFY(run.Server->WaitFor([](int, int answered) { return answered == 4; }));
        QTest::qWait(100);
        QCOMPARE(run.Workers.Started(), 0);
        QCOMPARE(StatusText(window), QStringLiteral("测速已停止：已测完0/4项。"));
        StartRun(window);
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 10000);
        QCOMPARE(run.Workers.Started(), 4);
    }

    // Esc stops a run; before and after one it does nothing.
    void escapeStopsARunOnly()
    {
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, {PlanItem(QStringLiteral("a"), "127.0.0.1", dtPing)});
        TFakeWorkers workers(window, true);
        QVERIFY(Activate(window));
        QSignalSpy stops(Action(window, "actStopTest"), &QAction::triggered);
        QTest::keyClick(List(window), Qt::Key_Escape);
        QCOMPARE(stops.count(), 0);
        StartRun(window);
        QTest::keyClick(List(window), Qt::Key_Escape);
        QCOMPARE(stops.count(), 1);
        QCOMPARE(StatusText(window), QStringLiteral("测速已停止：已测完0/1项。"));
        QVERIFY(CommandsAsInARun(window, false));
        QTest::keyClick(List(window), Qt::Key_Escape);
        QCOMPARE(stops.count(), 1);
    }

    // Each try reaches the hook for the chart on the UI thread.
    void everyTryIsToldWithItsItemAndTime()
    {
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, {PlanItem(QStringLiteral("甲"), "127.0.0.1", dtPing),
                                                PlanItem(QStringLiteral("乙"), "127.0.0.1", dtPing)});
        TFakeWorkers workers(window);
        workers.Set(QStringLiteral("乙"), Tried({std::chrono::microseconds(1500), std::nullopt}));
        QSignalSpy tries(&window, &TfrmTarnix::TryMade);
        const qint64 before = QDateTime::currentMSecsSinceEpoch() * 1000;
        StartRun(window);
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(tries.count(), 2, 2000);
        const qint64 after = QDateTime::currentMSecsSinceEpoch() * 1000 + 1000;
        QCOMPARE(tries[0][0].toInt(), 1);
        QCOMPARE(tries[0][1].toString(), QStringLiteral("乙"));
        QVERIFY(tries[0][2].toLongLong() >= before && tries[0][2].toLongLong() <= after);
        QCOMPARE(tries[0][3].toBool(), true);
        QCOMPARE(tries[0][4].toLongLong(), 1500);
        QCOMPARE(tries[1][3].toBool(), false);
    }

    // --- continuous runs ---

    // One run every interval from the start of the one before, at once
    // after a longer one; each completed run recorded; a stop during a run
    // ends the watch.
    void continuousRunsFollowTheIntervalUntilAStop()
    {
        TTestClock clock;
        clock.SetTicks(1'000'000);
        TClockScope clockScope(clock);
        TWatchWaits waits;
        TWindowScratch scratch;
        const QString history = scratch.Path(QStringLiteral("History.db"));
        TfrmTarnix::THistoryFileScope historyFile(history.toStdString());
        TfrmTarnix& window = OpenPlan(scratch, {PlanItem(QStringLiteral("a"), "127.0.0.1", dtPing),
                                                PlanItem(QStringLiteral("b"), "127.0.0.1", dtPing)});
        TFakeWorkers workers(window, true);
        workers.Set(QStringLiteral("a"), Measured(4.0));
        workers.Set(QStringLiteral("b"), Measured(6.0));
        QSignalSpy recorded(&window, &TfrmTarnix::HistoryRecorded);
        QSignalSpy ended(&window, &TfrmTarnix::RunEnded);

        int shownFirst = 0;
        QVERIFY(StartWatching(window, 30, &shownFirst));
        QCOMPARE(shownFirst, 60);  // the default
        QCOMPARE(workers.Started(), 2);
        QCOMPARE(StatusText(window), QStringLiteral("第1次：测速正在进行中..."));
        QVERIFY(CommandsAsInARun(window, true));

        clock.Advance(std::chrono::seconds(2));
        workers.ReportAll();
        QCOMPARE(waits.Delays.size(), size_t(1));
        QCOMPARE(waits.Delays[0], std::chrono::milliseconds(28000));
        const QString status = StatusText(window);
        QVERIFY2(status.startsWith(QStringLiteral("连续测速，下次")), qPrintable(status));
        // The wall-clock time of the next start, 28 s from now.
        const QTime next = QTime::fromString(status.mid(7), QStringLiteral("hh:mm:ss"));
        QVERIFY2(next.isValid(), qPrintable(status));
        const int ahead = (QTime::currentTime().secsTo(next) + 86400) % 86400;
        QVERIFY2(ahead >= 26 && ahead <= 29, qPrintable(status));
        QCOMPARE(PanelText(window, "pnlAvgTime"), QStringLiteral("5.00"));
        QVERIFY(CommandsAsInARun(window, true));  // between runs too
        QTRY_COMPARE_WITH_TIMEOUT(recorded.count(), 1, 5000);

        // The second run takes 45 s: the third follows at once.
        clock.Advance(std::chrono::seconds(28));
        std::function<void()> second = waits.Start;
        second();
        QCOMPARE(workers.Started(), 4);
        QCOMPARE(StatusText(window), QStringLiteral("第2次：测速正在进行中..."));
        clock.Advance(std::chrono::seconds(45));
        workers.ReportAll();
        QCOMPARE(waits.Delays.size(), size_t(2));
        QCOMPARE(waits.Delays[1], std::chrono::milliseconds(0));
        QTRY_COMPARE_WITH_TIMEOUT(recorded.count(), 2, 5000);
        waits.Start();
        QCOMPARE(workers.Started(), 6);
        second();  // a wait already served starts nothing more
        QCOMPARE(workers.Started(), 6);

        // A stop during the third run ends the watch and records nothing.
        workers.Report(QStringLiteral("a"));
        Trigger(window, "actStopTest");
        QCOMPARE(StatusText(window), QStringLiteral("测速已停止：已测完1/2项。"));
        QVERIFY(CommandsAsInARun(window, false));
        QCOMPARE(waits.Delays.size(), size_t(2));
        QCOMPARE(ended.count(), 3);
        QCOMPARE(ended[2][0].toBool(), false);
        QTest::qWait(100);
        QCOMPARE(recorded.count(), 2);
        waits.Start();  // the watch is over
        QCOMPARE(workers.Started(), 6);

        // The interval is the window's own setting, offered the next time.
        const QString settings = scratch.ReadFile(QStringLiteral("config/orvel/orvel.ini"));
        QVERIFY2(settings.contains(QStringLiteral("Interval=30")), qPrintable(settings));
        QVERIFY(!scratch.Setting().contains(QStringLiteral("Interval")));
        QVERIFY(!scratch.Store().contains(QStringLiteral("Interval")));
        WhenModal<TfrmWatchInterval>(QStringLiteral("frmWatchInterval"), [&](TfrmWatchInterval& dialog) {
            shownFirst = dialog.spnInterval->value();
            dialog.btnCancel->click();
        });
        Trigger(window, "actWatchTest");
        QCOMPARE(shownFirst, 30);
        QCOMPARE(workers.Started(), 6);  // cancelled: nothing runs
        QVERIFY(CommandsAsInARun(window, false));
    }

    // Between runs a stop (or Esc) ends the watch; the pending wait starts nothing.
    void aStopBetweenRunsEndsTheWatch()
    {
        TWatchWaits waits;
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, {PlanItem(QStringLiteral("a"), "127.0.0.1", dtPing)});
        TFakeWorkers workers(window, true);
        QVERIFY(StartWatching(window, 5));
        QVERIFY(Activate(window));  // again, once the dialog has gone
        workers.ReportAll();
        QCOMPARE(waits.Delays.size(), size_t(1));
        QVERIFY(waits.Delays[0] <= std::chrono::milliseconds(5000));
        QVERIFY(CommandsAsInARun(window, true));
        QTest::keyClick(List(window), Qt::Key_Escape);
        QCOMPARE(StatusText(window), QStringLiteral("连续测速已停止。"));
        QVERIFY(CommandsAsInARun(window, false));
        waits.Start();
        QCOMPARE(workers.Started(), 1);
        QCOMPARE(TimeText(window, 0), QStringLiteral("没响应"));  // the completed run's result stays
    }

    // Without the test's waits, the window's own timer starts the next run.
    void theWatchTimerStartsTheNextRun()
    {
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, {PlanItem(QStringLiteral("a"), "127.0.0.1", dtPing)});
        TFakeWorkers workers(window, true);
        QVERIFY(StartWatching(window, 5));
        workers.ReportAll();
        auto* timer = Control<QTimer>(window, "tmrWatch");
        QVERIFY(timer->isActive());
        QVERIFY(timer->isSingleShot());
        QVERIFY(timer->interval() > 4000 && timer->interval() <= 5000);
        Screenshot(window, "watch-between-runs");
        QTRY_COMPARE_WITH_TIMEOUT(workers.Started(), 2, 8000);
        QCOMPARE(StatusText(window), QStringLiteral("第2次：测速正在进行中..."));
        Trigger(window, "actStopTest");
        QVERIFY(!timer->isActive());
    }

    // The tray shows each completed run's average; a stopped run leaves it,
    // and the switch turns the notifications off but not the tray.
    void theTrayShowsCompletedRunsAndTheSwitchReachesTheAlerts()
    {
        THttpServer quick, slow;
        THttpServer::TResponse page;
        page.DelayMs = 5;
        quick.SetResponse(page);
        page.DelayMs = 3000;
        slow.SetResponse(page);
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, {PlanItem(QStringLiteral("a"), quick.HostPort(), dtHomePage)});
        auto* alerts = window.findChild<TRunAlerts*>(QStringLiteral("RunAlerts"));
        QVERIFY(alerts != nullptr);
        QVERIFY(alerts->Enabled());
        StartRun(window);
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 10000);
        const QString shown = alerts->TrayIcon().ToolTip();
        QVERIFY2(shown.contains(QStringLiteral("测速方案[run]")) && shown.contains(QStringLiteral("上次平均耗时")),
                 qPrintable(shown));

        Trigger(window, "actNotify");
        QVERIFY(!alerts->Enabled());
        Trigger(window, "actNotify");
        QVERIFY(alerts->Enabled());

        scratch.WriteStore(QStringLiteral("run=") + PlanItem(QStringLiteral("b"), slow.HostPort(), dtHomePage) +
                           "\r\n");
        TfrmTarnix& second = scratch.Open();
        auto* secondAlerts = second.findChild<TRunAlerts*>(QStringLiteral("RunAlerts"));
        const QString before = secondAlerts->TrayIcon().ToolTip();
        StartRun(second);
        QTRY_VERIFY_WITH_TIMEOUT(RowsShowing(second, QStringLiteral("测速中...")) == 1, 10000);
        Trigger(second, "actStopTest");
        QCOMPARE(secondAlerts->TrayIcon().ToolTip(), before);
    }

    // The chart draws the open plan's items and every try a run makes; another
    // plan starts it afresh.
    void theLiveChartDrawsTheTriesOfTheRuns()
    {
        THttpServer server;
        TWindowScratch scratch;
        TfrmTarnix& window = OpenPlan(scratch, {PlanItem(QStringLiteral("a"), server.HostPort(), dtHomePage),
                                                PlanItem(QStringLiteral("b"), "127.0.0.1:1", dtHomePage)});
        Trigger(window, "actLiveChart");
        auto* chart = window.findChild<TfrmLiveChart*>();
        QVERIFY(chart != nullptr && chart->isVisible());
        auto* items = chart->findChild<QListWidget*>(QStringLiteral("lbItems"));
        QCOMPARE(items->count(), 2);
        QCOMPARE(items->item(1)->text(), QStringLiteral("b"));

        StartRun(window);
        QTRY_COMPARE_WITH_TIMEOUT(StatusText(window), QStringLiteral("测速已完成。"), 10000);
        chart->Refresh();
        QChart* drawn = chart->findChild<QChartView*>(QStringLiteral("chartView"))->chart();
        int answered = 0, failed = 0;
        for (QAbstractSeries* series : drawn->series()) {
            if (series->name() == QStringLiteral("a"))
                answered = qobject_cast<QLineSeries*>(series)->count();
            else if (series->name() == QStringLiteral("失败"))
                failed = qobject_cast<QXYSeries*>(series)->count();
        }
        // Tries this close together share a pixel: a line keeps the fastest
        // and slowest of them, the failures one mark.
        QVERIFY2(answered >= 1 && answered <= 2, qPrintable(QString::number(answered)));
        QCOMPARE(failed, 1);

        Trigger(window, "actNewProject");
        chart->Refresh();
        QCOMPARE(items->count(), 0);
    }

    // The notification switch is kept with the interval, on by default.
    void theNotificationSwitchIsKept()
    {
        TWindowScratch scratch;
        {
            TfrmTarnix& window = scratch.Open();
            QVERIFY(Action(window, "actNotify")->isChecked());
            Trigger(window, "actNotify");
            QVERIFY(!Action(window, "actNotify")->isChecked());
            QVERIFY(window.close());
            scratch.Window.reset();
        }
        QVERIFY(scratch.ReadFile(QStringLiteral("config/orvel/orvel.ini")).contains(QStringLiteral("Notify=false")));
        QVERIFY(!scratch.Setting().contains(QStringLiteral("Notify")));
        TfrmTarnix& window = scratch.Open();
        QVERIFY(!Action(window, "actNotify")->isChecked());
    }
};

QTEST_MAIN(TestMainWindowRun)
#include "test_Main_quellan_Run.moc"
