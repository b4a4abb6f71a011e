// The notifications, as a notification server of the test's own on a bus of
// its own receives them; and what a desktop without either costs.
#include "Privatebus.h"
#include "app/Notifier.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {

using TChanges = std::vector<TAnswerChange>;

// Generous: a blocking call would wait for D-Bus's own 25 s.
constexpr qint64 kNoStallMs = 1000;

#define REQUIRE_PRIVATE_BUS(bus)                                                \
    if (!TPrivateBus::DaemonPresent())                                          \
        QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");     \
    TPrivateBus bus;                                                            \
    QVERIFY2(!bus.Address().isEmpty(), "dbus-daemon did not start")

// Counts the unit's log lines.
int gLogLines = 0;
QtMessageHandler gPreviousHandler = nullptr;

void CountNotifierLines(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (context.category && QByteArray(context.category) == "orvel.notify")
        ++gLogLines;
    gPreviousHandler(type, context, message);
}

// Sends the changes; true if that returned at once and every notification
// then finished as delivered says.
bool SendAndWait(TDesktopNotifier& notifier, const TChanges& changes, int expected, bool delivered)
{
    QSignalSpy finished(&notifier, &TDesktopNotifier::Finished);
    QElapsedTimer clock;
    clock.start();
    notifier.NotifyChanges(QStringLiteral("家里"), changes);
    if (clock.elapsed() > kNoStallMs)
        return false;
    for (int waited = 0; finished.size() < expected && waited < 50; ++waited)
        finished.wait(100);
    QTest::qWait(50);  // nothing more comes
    if (finished.size() != expected)
        return false;
    for (const QList<QVariant>& call : finished)
        if (call.at(0).toBool() != delivered)
            return false;
    return true;
}

}  // namespace

class TestNotifier : public QObject {
    Q_OBJECT
private slots:
    // After QTest's own handler, which it passes the lines on to.
    void initTestCase() { gPreviousHandler = qInstallMessageHandler(CountNotifierLines); }

    void init() { gLogLines = 0; }

    void eachChangeIsOneNotificationNamingItsItemAndPlan()
    {
        REQUIRE_PRIVATE_BUS(bus);
        TNotificationServer server;
        QVERIFY(server.Serve(bus.Connect(QStringLiteral("server"))));
        TDesktopNotifier notifier(bus.Connect(QStringLiteral("program")));

        QVERIFY(SendAndWait(notifier, {{"网关", false}, {"DNS服务器", true}}, 2, true));
        QCOMPARE(server.Calls.size(), 2);
        const TNotificationServer::TCall& down = server.Calls.at(0);
        QCOMPARE(down.App, QStringLiteral("Orvel网络测速器"));
        QCOMPARE(down.Summary, QStringLiteral("测速项没有响应"));
        QCOMPARE(down.Body, QStringLiteral("测速方案[家里]的测速项[网关]没有响应了。"));
        QCOMPARE(down.Icon, QStringLiteral("orvel"));
        QCOMPARE(down.Hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("org.orvel.Orvel"));
        QCOMPARE(down.Timeout, -1);
        const TNotificationServer::TCall& up = server.Calls.at(1);
        QCOMPARE(up.Summary, QStringLiteral("测速项恢复响应"));
        QCOMPARE(up.Body, QStringLiteral("测速方案[家里]的测速项[DNS服务器]恢复响应了。"));
        QCOMPARE(gLogLines, 0);
    }

    void noChangesAreNoNotification()
    {
        REQUIRE_PRIVATE_BUS(bus);
        TNotificationServer server;
        QVERIFY(server.Serve(bus.Connect(QStringLiteral("server"))));
        TDesktopNotifier notifier(bus.Connect(QStringLiteral("program")));
        QVERIFY(SendAndWait(notifier, {}, 0, true));
        QVERIFY(server.Calls.isEmpty());
    }

    void manyChangesAtOnceShareOneNotificationBeyondTheFirst()
    {
        REQUIRE_PRIVATE_BUS(bus);
        TNotificationServer server;
        QVERIFY(server.Serve(bus.Connect(QStringLiteral("server"))));
        TDesktopNotifier notifier(bus.Connect(QStringLiteral("program")));
        TChanges changes;
        for (int i = 0; i < TDesktopNotifier::kMostSingleNotifications + 4; ++i)
            changes.push_back({"项" + std::to_string(i), i == TDesktopNotifier::kMostSingleNotifications + 3});

        QVERIFY(SendAndWait(notifier, changes, TDesktopNotifier::kMostSingleNotifications + 1, true));
        QCOMPARE(server.Calls.size(), TDesktopNotifier::kMostSingleNotifications + 1);
        QCOMPARE(server.Calls.at(0).Body, QStringLiteral("测速方案[家里]的测速项[项0]没有响应了。"));
        QCOMPARE(server.Calls.last().Summary, QStringLiteral("更多测速项的响应有变化"));
        QCOMPARE(server.Calls.last().Body, QStringLiteral("测速方案[家里]另有3个测速项没有响应了，1个测速项恢复响应了。"));
    }

    void aBusWithoutTheServiceCostsOnlyTheNotifications()
    {
        REQUIRE_PRIVATE_BUS(bus);
        TDesktopNotifier notifier(bus.Connect(QStringLiteral("program")));
        QVERIFY(SendAndWait(notifier, {{"甲", false}, {"乙", false}, {"丙", true}}, 3, false));
        // and again later: still one line in all
        QVERIFY(SendAndWait(notifier, {{"甲", true}}, 1, false));
        QCOMPARE(gLogLines, 1);
    }

    void noBusAtAllCostsOnlyTheNotifications()
    {
        TScratchDir dir;
        const QString nowhere = QStringLiteral("unix:path=") + QFile::decodeName(dir.File("none").c_str());
        QDBusConnection unconnected = QDBusConnection::connectToBus(nowhere, QStringLiteral("nowhere"));
        QVERIFY(!unconnected.isConnected());
        {
            TDesktopNotifier notifier(unconnected);
            QVERIFY(SendAndWait(notifier, {{"甲", false}, {"乙", true}}, 2, false));
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
        // The session bus, which main points at a socket that is not there.
        TDesktopNotifier session;
        QVERIFY(SendAndWait(session, {{"甲", false}}, 1, false));
        QCOMPARE(gLogLines, 2);  // one per notifier
    }
};

int main(int argc, char** argv)
{
    UseNoSessionBus();
    QApplication app(argc, argv);
    TestNotifier test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_Notifier.moc"
