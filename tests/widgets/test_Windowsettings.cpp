// The window's own settings file: where it lives, its defaults, and values
// out of range.

#include "app/Windowsettings.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestWindowSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // In the configuration folder, under the program's own name.
    void theFileIsInTheUsersConfigurationFolder()
    {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QCOMPARE(TWindowSettings::DefaultFile(), folder + QStringLiteral("/orvel/orvel.ini"));
        QTemporaryDir scratch;
        const QString file = scratch.filePath(QStringLiteral("w.ini"));
        {
            TWindowSettings::TFileScope scope(file);
            QCOMPARE(TWindowSettings::DefaultFile(), file);
            QCOMPARE(TWindowSettings().File(), file);
        }
        QCOMPARE(TWindowSettings::DefaultFile(), folder + QStringLiteral("/orvel/orvel.ini"));
    }

    void defaultsAreSixtySecondsAndNotificationsOn()
    {
        QTemporaryDir scratch;
        TWindowSettings settings(scratch.filePath(QStringLiteral("none.ini")));
        QCOMPARE(settings.WatchInterval(), 60);
        QVERIFY(settings.Notify());
        QVERIFY(!QFile::exists(settings.File()));  // reading writes nothing
    }

    void valuesAreKeptForTheNextStart()
    {
        QTemporaryDir scratch;
        const QString file = scratch.filePath(QStringLiteral("sub/orvel.ini"));
        {
            TWindowSettings settings(file);
            settings.SetWatchInterval(300);
            settings.SetNotify(false);
        }
        QVERIFY(QFile::exists(file));  // its folder made as well
        TWindowSettings again(file);
        QCOMPARE(again.WatchInterval(), 300);
        QVERIFY(!again.Notify());
    }

    // A hand-edited file can hold anything: the interval stays in bounds.
    void anIntervalOutOfBoundsIsClamped()
    {
        QTemporaryDir scratch;
        const QString file = scratch.filePath(QStringLiteral("orvel.ini"));
        TWindowSettings settings(file);
        settings.SetWatchInterval(1);
        QCOMPARE(settings.WatchInterval(), 5);
        settings.SetWatchInterval(100000);
        QCOMPARE(settings.WatchInterval(), 3600);
        for (const char* text : {"2", "99999", "-7", "abc", ""}) {
            QFile edited(file);
            QVERIFY(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
            edited.write(QByteArray("[Watch]\nInterval=") + text + "\n");
            edited.close();
            const int interval = TWindowSettings(file).WatchInterval();
            QVERIFY2(interval >= 5 && interval <= 3600, text);
        }
        QFile edited(file);
        QVERIFY(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
        edited.write("[Watch]\nInterval=abc\n");
        edited.close();
        QCOMPARE(TWindowSettings(file).WatchInterval(), 60);
    }
};

QTEST_MAIN(TestWindowSettings)
#include "test_Windowsettings.moc"
