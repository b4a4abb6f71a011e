#include "app/Runalerts.h"

TRunAlerts::TRunAlerts(QObject* parent) : TRunAlerts(QDBusConnection::sessionBus(), parent) {}

TRunAlerts::TRunAlerts(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), FNotifier(new TDesktopNotifier(bus, this)), FTray(new TTrayIcon(this))
{
    connect(FTray, &TTrayIcon::Activated, this, &TRunAlerts::Activated);
}

void TRunAlerts::RunCompleted(const std::string& planUtf8, const std::vector<TAnswerState>& items,
                              std::optional<double> average)
{
    const std::vector<TAnswerChange> changes = FWatch.RunCompleted(planUtf8, items);
    const QString plan = planUtf8.empty() ? QStringLiteral("未命名") : QString::fromStdString(planUtf8);
    if (FEnabled)
        FNotifier->NotifyChanges(plan, changes);
    FTray->ShowAverage(average, plan);
}

void TRunAlerts::SetEnabled(bool enabled) { FEnabled = enabled; }

bool TRunAlerts::Enabled() const { return FEnabled; }

void TRunAlerts::Reset() { FWatch.Reset(); }

TDesktopNotifier& TRunAlerts::Notifier() { return *FNotifier; }

TTrayIcon& TRunAlerts::TrayIcon() { return *FTray; }
