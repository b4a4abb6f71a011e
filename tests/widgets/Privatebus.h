#pragma once
// A session bus of the test's own, and a notification server on it that
// keeps what it was sent.

#include "tests/support/Scratchdir.h"

#include <QDBusConnection>
#include <QFile>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// Set before the application object: nothing in the test reaches the bus of
// the desktop it runs on, and the session bus is one that is not there.
inline void UseNoSessionBus() { qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvel-test-bus"); }

// A dbus-daemon with no service files, so that no call to it starts a
// program of the machine; killed when this goes.
class TPrivateBus {
public:
    static bool DaemonPresent() { return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty(); }

    TPrivateBus()
    {
        const std::string config = FDir.File("bus.conf");
        WriteBytes(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig>\n"
                           "  <type>session</type>\n"
                           "  <listen>unix:dir=" + FDir.Path().string() + "</listen>\n"
                           "  <auth>EXTERNAL</auth>\n"
                           "  <policy context=\"default\">\n"
                           "    <allow send_destination=\"*\"/>\n"
                           "    <allow receive_sender=\"*\"/>\n"
                           "    <allow own=\"*\"/>\n"
                           "  </policy>\n"
                           "</busconfig>\n");
        FDaemon.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + QFile::decodeName(config.c_str()),
                       QStringLiteral("--print-address"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
        if (!FDaemon.waitForStarted(5000))
            return;
        while (!FDaemon.canReadLine() && FDaemon.waitForReadyRead(5000)) {
        }
        FAddress = QString::fromUtf8(FDaemon.readLine()).trimmed();
    }

    ~TPrivateBus()
    {
        for (const QString& name : FNames)
            QDBusConnection::disconnectFromBus(name);
        FDaemon.kill();
        FDaemon.waitForFinished(5000);
    }

    TPrivateBus(const TPrivateBus&) = delete;
    TPrivateBus& operator=(const TPrivateBus&) = delete;

    // Empty: the daemon did not come up.
    const QString& Address() const { return FAddress; }

    // A connection of its own to the bus, closed with the bus.
    QDBusConnection Connect(const QString& name)
    {
        FNames << name;
        return QDBusConnection::connectToBus(FAddress, name);
    }

private:
    TScratchDir FDir;
    QProcess FDaemon;
    QString FAddress;
    QStringList FNames;
};

// What a desktop's notification service is, to the program: keeps the calls.
class TNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct TCall {
        QString App;
        QString Icon;
        QString Summary;
        QString Body;
        QVariantMap Hints;
        int Timeout = 0;
    };

    QList<TCall> Calls;

    // Takes the service's name on the connection; false if it cannot.
    bool Serve(QDBusConnection bus)
    {
        return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots) &&
               bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

public slots:
    uint Notify(const QString& app_name, uint /*replaces_id*/, const QString& app_icon, const QString& summary,
                const QString& body, const QStringList& /*actions*/, const QVariantMap& hints, int expire_timeout)
    {
        Calls.append({app_name, app_icon, summary, body, hints, expire_timeout});
        return uint(Calls.size());
    }
};
