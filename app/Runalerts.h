#pragma once
// What the desktop is told after each completed run: a notification per
// item that stopped or started answering (unless turned off), and the run's
// overall average in the tray icon's tooltip.

#include "app/Notifier.h"
#include "app/Trayicon.h"
#include "engine/Answerwatch.h"

#include <QDBusConnection>
#include <QObject>

#include <optional>
#include <string>
#include <vector>

class TRunAlerts : public QObject {
    Q_OBJECT
public:
    explicit TRunAlerts(QObject* parent = nullptr);  // notifies over the session bus
    // Test seam: notifies over the given connection.
    explicit TRunAlerts(const QDBusConnection& bus, QObject* parent = nullptr);

    // After each completed run (never a stopped one): the plan's name
    // (UTF-8, empty for an unnamed plan), its items (AnswerStates of
    // engine/Answerwatch.h) and its overall average (OverallAverage).
    void RunCompleted(const std::string& planUtf8, const std::vector<TAnswerState>& items,
                      std::optional<double> average);

    // Off: no notifications; the changes are still followed, and the tray
    // still shows the average. On by default.
    void SetEnabled(bool enabled);
    bool Enabled() const;

    // The plan's items were changed or another plan opened: the next run is
    // compared with nothing.
    void Reset();

    TDesktopNotifier& Notifier();
    TTrayIcon& TrayIcon();

signals:
    // The tray icon was clicked: the window should come to the front.
    void Activated();

private:
    TAnswerWatch FWatch;
    TDesktopNotifier* FNotifier;
    TTrayIcon* FTray;
    bool FEnabled = true;
};
