#pragma once
// Tells the desktop when items stop or start answering, through the
// freedesktop notification service on the session bus. Every call is
// asynchronous: a desktop without the service, or without a session bus,
// loses the notification and nothing else.

#include "engine/Answerwatch.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <vector>

class TDesktopNotifier : public QObject {
    Q_OBJECT
public:
    // Up to this many changes of one run get a notification each; the rest
    // share one, so that a lost connection does not bury the desktop.
    static constexpr int kMostSingleNotifications = 5;

    explicit TDesktopNotifier(QObject* parent = nullptr);  // the session bus
    // Test seam: notifies over the given connection.
    explicit TDesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    // One notification per change, naming the item and the plan (its name
    // as shown, e.g. "未命名").
    void NotifyChanges(const QString& plan, const std::vector<TAnswerChange>& changes);

signals:
    // A notification was taken by the service (true) or was lost.
    void Finished(bool delivered);

private:
    QDBusConnection FBus;
    bool FFailureLogged = false;

    void NotifyChange(const QString& plan, const TAnswerChange& change);
    void NotifyRest(const QString& plan, int down, int up);
    void Notify(const QString& summary, const QString& body);
    void CallFinished(bool delivered, const QString& error);
};
