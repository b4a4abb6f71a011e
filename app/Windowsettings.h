#pragma once
// The window's own settings, apart from the plan store: a file in the
// user's configuration folder (orvel/orvel.ini under
// QStandardPaths::GenericConfigLocation), never DestLists.ini or
// Projects.dat, which a copy of the program may share with others.

#include "vqlib/Vqhook.h"

#include <QString>

#include <memory>

class QSettings;

class TWindowSettings {
public:
    // The user's file; a test names a scratch one.
    TWindowSettings();
    explicit TWindowSettings(const QString& file);
    ~TWindowSettings();
    TWindowSettings(const TWindowSettings&) = delete;
    TWindowSettings& operator=(const TWindowSettings&) = delete;

    // Test seam: while alive, TWindowSettings() opens file instead.
    class TFileScope {
    public:
        explicit TFileScope(QString file);

    private:
        THookScope<QString> FScope;
    };

    // The file TWindowSettings() opens.
    static QString DefaultFile();
    QString File() const;

    // Seconds between the starts of continuous runs, 5..3600 (default 60);
    // a value out of range, read or written, is clamped.
    int WatchInterval() const;
    void SetWatchInterval(int seconds);

    // Whether the desktop is told of items that stop or start answering.
    bool Notify() const;
    void SetNotify(bool notify);

private:
    std::unique_ptr<QSettings> FSettings;
};
