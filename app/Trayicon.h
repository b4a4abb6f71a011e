#pragma once
// The icon in the desktop's system tray: the last run's overall average in
// its tooltip, and a click to bring the window back. Where the desktop has
// no tray it stays hidden, and everything else still works.

#include <QObject>
#include <QString>

#include <optional>

class QSystemTrayIcon;

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TTrayIcon(QObject* parent = nullptr);

    // The last completed run of the plan (its name as shown): its overall
    // average in milliseconds, none when no item answered.
    void ShowAverage(std::optional<double> ms, const QString& plan);

    QString ToolTip() const;

signals:
    // The icon was clicked.
    void Activated();

private:
    QSystemTrayIcon* FIcon;  // object name "trayIcon"

    void ShowWhereThereIsATray();
};
