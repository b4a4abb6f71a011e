#pragma once
// What the main window's test programs share: a scratch program directory
// for each test function, stand-in workers when a function wants them, and
// the check that the window showed no box the function did not expect.

#include "Windowscript.h"

#include <QObject>
#include <QString>

#include <memory>

class TMainWindowFixture : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<TWindowScratch> Scratch;
    std::unique_ptr<TFakeWorkers> Workers;  // gone before the window is
    TBoxScript& Boxes() { return Scratch->Boxes; }

    // A window on a store whose only plan, p, holds these items
    // ("name^host^method#...") and was the one last opened.
    TfrmTarnix& OpenPlan(const QString& items);

private slots:
    void init();
    void cleanup();
};
