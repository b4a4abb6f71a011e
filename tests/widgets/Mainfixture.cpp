#include "Mainfixture.h"

TfrmTarnix& TMainWindowFixture::OpenPlan(const QString& items)
{
    Scratch->WriteStore(QStringLiteral("p=") + items + "\r\n");
    Scratch->WriteSetting(QStringLiteral("p"));
    return Scratch->Open();
}

void TMainWindowFixture::init() { Scratch = std::make_unique<TWindowScratch>(); }

void TMainWindowFixture::cleanup()
{
    // Counted before the window goes; a failed check leaves nothing behind.
    const int unexpected = Boxes().Unexpected;
    Workers.reset();
    Scratch.reset();
    QCOMPARE(unexpected, 0);
}
