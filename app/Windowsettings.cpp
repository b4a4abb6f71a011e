#include "app/Windowsettings.h"

#include "engine/Watchschedule.h"

#include <QSettings>
#include <QStandardPaths>

#include <utility>

namespace {

const QString kWatchInterval = QStringLiteral("Watch/Interval");
const QString kNotify = QStringLiteral("Watch/Notify");

THook<QString> FileHook;

}  // namespace

TWindowSettings::TFileScope::TFileScope(QString file) : FScope(FileHook, std::move(file)) {}

TWindowSettings::TWindowSettings() : TWindowSettings(DefaultFile()) {}

TWindowSettings::TWindowSettings(const QString& file)
    : FSettings(std::make_unique<QSettings>(file, QSettings::IniFormat))
{
}

TWindowSettings::~TWindowSettings() = default;

// Looked up on every use: a test may switch QStandardPaths to its test folders.
QString TWindowSettings::DefaultFile()
{
    if (QString file = FileHook.Get(); !file.isEmpty())
        return file;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/orvel/orvel.ini");
}

QString TWindowSettings::File() const { return FSettings->fileName(); }

int TWindowSettings::WatchInterval() const
{
    bool number = false;
    const int seconds = FSettings->value(kWatchInterval).toInt(&number);
    return number ? TWatchSchedule::ClampInterval(seconds) : TWatchSchedule::kDefaultInterval;
}

void TWindowSettings::SetWatchInterval(int seconds)
{
    FSettings->setValue(kWatchInterval, TWatchSchedule::ClampInterval(seconds));
    FSettings->sync();
}

bool TWindowSettings::Notify() const { return FSettings->value(kNotify, true).toBool(); }

void TWindowSettings::SetNotify(bool notify)
{
    FSettings->setValue(kNotify, notify);
    FSettings->sync();
}
