#include "app/Trayicon.h"

#include "app/Apperror.h"
#include "app/Images.h"
#include "engine/Itemtexts.h"

#include <QSystemTrayIcon>

namespace {

const QString kTitle = QStringLiteral("Orvel网络测速器");

}  // namespace

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent), FIcon(new QSystemTrayIcon(ApplicationIcon(), this))
{
    FIcon->setObjectName(QStringLiteral("trayIcon"));
    FIcon->setToolTip(kTitle);
    connect(FIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            RunGuarded([this] { emit Activated(); });
    });
    ShowWhereThereIsATray();
}

void TTrayIcon::ShowAverage(std::optional<double> ms, const QString& plan)
{
    const QString result = ms ? QStringLiteral("上次平均耗时: %1毫秒").arg(QString::fromStdString(AverageText(*ms)))
                              : QStringLiteral("上次测速没有响应");
    FIcon->setToolTip(QStringLiteral("%1\n测速方案[%2]\n%3").arg(kTitle, plan, result));
    // A tray that came up after the program did.
    ShowWhereThereIsATray();
}

QString TTrayIcon::ToolTip() const { return FIcon->toolTip(); }

void TTrayIcon::ShowWhereThereIsATray()
{
    if (!FIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable())
        FIcon->show();
}
