#include "app/Notifier.h"

#include "app/Apperror.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QLoggingCategory>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>

namespace {

Q_LOGGING_CATEGORY(lcNotify, "orvel.notify")

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// A service that hangs costs a pending call, dropped after this.
constexpr int kReplyTimeoutMs = 10000;

QString Item(const TAnswerChange& change) { return QString::fromStdString(change.Name); }

}  // namespace

TDesktopNotifier::TDesktopNotifier(QObject* parent) : TDesktopNotifier(QDBusConnection::sessionBus(), parent) {}

TDesktopNotifier::TDesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), FBus(bus) {}

void TDesktopNotifier::NotifyChanges(const QString& plan, const std::vector<TAnswerChange>& changes)
{
    const size_t single = std::min(changes.size(), size_t(kMostSingleNotifications));
    for (size_t i = 0; i < single; ++i)
        NotifyChange(plan, changes[i]);
    int down = 0;
    int up = 0;
    for (size_t i = single; i < changes.size(); ++i)
        ++(changes[i].Answered ? up : down);
    if (down + up > 0)
        NotifyRest(plan, down, up);
}

void TDesktopNotifier::NotifyChange(const QString& plan, const TAnswerChange& change)
{
    if (change.Answered)
        Notify(QStringLiteral("测速项恢复响应"), QStringLiteral("测速方案[%1]的测速项[%2]恢复响应了。").arg(plan, Item(change)));
    else
        Notify(QStringLiteral("测速项没有响应"), QStringLiteral("测速方案[%1]的测速项[%2]没有响应了。").arg(plan, Item(change)));
}

void TDesktopNotifier::NotifyRest(const QString& plan, int down, int up)
{
    QStringList parts;
    if (down > 0)
        parts << QStringLiteral("%1个测速项没有响应了").arg(down);
    if (up > 0)
        parts << QStringLiteral("%1个测速项恢复响应了").arg(up);
    Notify(QStringLiteral("更多测速项的响应有变化"),
           QStringLiteral("测速方案[%1]另有%2。").arg(plan, parts.join(QStringLiteral("，"))));
}

void TDesktopNotifier::Notify(const QString& summary, const QString& body)
{
    if (!FBus.isConnected()) {
        // Its calls would never finish: lost, and told from the event loop as a call's end is.
        QTimer::singleShot(0, this, [this] {
            RunGuarded([this] { CallFinished(false, QStringLiteral("not connected to a session bus")); });
        });
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("org.orvel.Orvel")}};
    message << QStringLiteral("Orvel网络测速器") << uint(0) << QStringLiteral("orvel") << summary << body
            << QStringList() << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(message, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        RunGuarded([this, call] { CallFinished(!call->isError(), call->error().message()); });
    });
}

void TDesktopNotifier::CallFinished(bool delivered, const QString& error)
{
    if (!delivered && !FFailureLogged) {
        FFailureLogged = true;
        qCDebug(lcNotify) << "desktop notifications are lost:" << error;
    }
    emit Finished(delivered);
}
