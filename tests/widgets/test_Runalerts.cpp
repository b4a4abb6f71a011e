// What the desktop is told after runs: notifications to a server of the
// test's own on a bus of its own, and the tray's tooltip.
#include "Privatebus.h"
#include "app/Runalerts.h"

#include <QApplication>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

TAnswerState Up(std::string name) { return {std::move(name), true}; }
TAnswerState Down(std::string name) { return {std::move(name), false}; }

// Waits until the server has count calls; a few more milliseconds show
// that no more are coming. Calls of one connection arrive in order, so a
// later notification also shows that none came before it.
bool ServerGets(const TNotificationServer& server, int count)
{
    for (int waited = 0; server.Calls.size() < count && waited < 50; ++waited)
        QTest::qWait(100);
    QTest::qWait(50);
    return server.Calls.size() == count;
}

}  // namespace

class TestRunalerts : public QObject {
    Q_OBJECT
private slots:
    void onlyChangesBetweenRunsOfOnePlanAreNotified()
    {
        if (!TPrivateBus::DaemonPresent())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
        TPrivateBus bus;
        QVERIFY(!bus.Address().isEmpty());
        TNotificationServer server;
        QVERIFY(server.Serve(bus.Connect(QStringLiteral("server"))));
        TRunAlerts alerts(bus.Connect(QStringLiteral("program")));
        QVERIFY(alerts.Enabled());

        alerts.RunCompleted("家里", {Up("甲"), Up("乙")}, 10.0);   // the first run
        alerts.RunCompleted("家里", {Up("甲"), Up("乙")}, 11.0);   // nothing changes
        alerts.RunCompleted("家里", {Down("甲"), Up("乙")}, 12.0);
        QVERIFY(ServerGets(server, 1));
        QCOMPARE(server.Calls.at(0).Body, QStringLiteral("测速方案[家里]的测速项[甲]没有响应了。"));

        alerts.Reset();
        alerts.RunCompleted("家里", {Up("甲"), Up("乙")}, 10.0);
        alerts.RunCompleted("", {Down("甲"), Up("乙")}, 10.0);     // another plan
        alerts.RunCompleted("", {Up("甲"), Down("乙")}, 10.0);
        QVERIFY(ServerGets(server, 3));
        QCOMPARE(server.Calls.at(1).Body, QStringLiteral("测速方案[未命名]的测速项[甲]恢复响应了。"));
        QCOMPARE(server.Calls.at(2).Body, QStringLiteral("测速方案[未命名]的测速项[乙]没有响应了。"));
    }

    void turnedOffNothingIsNotifiedAndTheTrayStillShowsTheAverage()
    {
        if (!TPrivateBus::DaemonPresent())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon)");
        TPrivateBus bus;
        QVERIFY(!bus.Address().isEmpty());
        TNotificationServer server;
        QVERIFY(server.Serve(bus.Connect(QStringLiteral("server"))));
        TRunAlerts alerts(bus.Connect(QStringLiteral("program")));

        alerts.RunCompleted("家里", {Up("甲")}, 10.0);
        alerts.SetEnabled(false);
        QVERIFY(!alerts.Enabled());
        alerts.RunCompleted("家里", {Down("甲")}, std::nullopt);
        QCOMPARE(alerts.TrayIcon().ToolTip(), QStringLiteral("Orvel网络测速器\n测速方案[家里]\n上次测速没有响应"));
        // Turned on again: compared with the run it was off for, not the one before.
        alerts.SetEnabled(true);
        alerts.RunCompleted("家里", {Down("甲")}, std::nullopt);
        alerts.RunCompleted("家里", {Up("甲")}, 3.5);
        QVERIFY(ServerGets(server, 1));
        QCOMPARE(server.Calls.at(0).Summary, QStringLiteral("测速项恢复响应"));
        QCOMPARE(alerts.TrayIcon().ToolTip(), QStringLiteral("Orvel网络测速器\n测速方案[家里]\n上次平均耗时: 3.50毫秒"));
    }

    void aClickOnTheTrayAsksForTheWindow()
    {
        TRunAlerts alerts;  // the session bus: none here
        QSignalSpy activated(&alerts, &TRunAlerts::Activated);
        auto* icon = alerts.findChild<QSystemTrayIcon*>(QStringLiteral("trayIcon"));
        QVERIFY(icon);
        emit icon->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(activated.size(), 1);
        alerts.RunCompleted("家里", {Up("甲")}, 1.0);
        alerts.RunCompleted("家里", {Down("甲")}, std::nullopt);  // lost, quietly
        QSignalSpy finished(&alerts.Notifier(), &TDesktopNotifier::Finished);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).toBool(), false);
    }
};

int main(int argc, char** argv)
{
    UseNoSessionBus();
    QApplication app(argc, argv);
    TestRunalerts test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_Runalerts.moc"
