// The tray icon's tooltip and click; offscreen there is no tray, and the
// icon must do without one.
#include "Privatebus.h"
#include "app/Trayicon.h"

#include <QApplication>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

class TestTrayicon : public QObject {
    Q_OBJECT
private slots:
    void theTooltipShowsTheLastAverageOfThePlan()
    {
        TTrayIcon tray;
        QCOMPARE(tray.ToolTip(), QStringLiteral("Orvel网络测速器"));
        tray.ShowAverage(12.345, QStringLiteral("家里"));
        QCOMPARE(tray.ToolTip(), QStringLiteral("Orvel网络测速器\n测速方案[家里]\n上次平均耗时: 12.35毫秒"));
        tray.ShowAverage(std::nullopt, QStringLiteral("公司"));
        QCOMPARE(tray.ToolTip(), QStringLiteral("Orvel网络测速器\n测速方案[公司]\n上次测速没有响应"));
    }

    void aClickAsksForTheWindowAndOtherButtonsDoNot()
    {
        TTrayIcon tray;
        auto* icon = tray.findChild<QSystemTrayIcon*>(QStringLiteral("trayIcon"));
        QVERIFY(icon);
        QSignalSpy activated(&tray, &TTrayIcon::Activated);
        emit icon->activated(QSystemTrayIcon::Context);
        emit icon->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(activated.size(), 1);
    }

    void withoutATrayItStaysHidden()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());  // offscreen
        TTrayIcon tray;
        tray.ShowAverage(1.0, QStringLiteral("家里"));
        auto* icon = tray.findChild<QSystemTrayIcon*>(QStringLiteral("trayIcon"));
        QVERIFY(!icon->isVisible());
        QVERIFY(!icon->icon().isNull());
    }
};

int main(int argc, char** argv)
{
    UseNoSessionBus();
    QApplication app(argc, argv);
    TestTrayicon test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_Trayicon.moc"
