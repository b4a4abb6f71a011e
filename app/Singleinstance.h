#pragma once
// One window per store folder: a second start for the same folder hands over
// to the running window instead of opening one with its own stale copy of the
// plans. The running window listens on a local socket named after the
// folder's canonical path, in the user's runtime folder.

#include <QLocalServer>
#include <QObject>
#include <QString>

class QWidget;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TSingleInstance(const QString& storeDir, QObject* parent = nullptr);

    // True: no other instance holds the folder, and this one now listens
    // (or could not, and runs all the same). False: the running instance was
    // asked to show its window, and this one should end.
    bool Claim();

    // The socket's name for a store folder: per user and per folder.
    static QString ServerName(const QString& storeDir);

signals:
    // Another start for the same folder asked for the window.
    void Activated();

private:
    QString FName;
    QLocalServer FServer;

    bool AskRunningInstance();
    void AcceptActivations();
};

// Shows the window in front of the others, un-minimised, with its modal
// dialog (if any) on top.
void BringToFront(QWidget& window);
