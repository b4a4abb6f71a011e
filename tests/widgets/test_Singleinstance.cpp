// One window per store folder, through the unit itself: each instance in this
// process stands for one start of the program.

#include "app/Singleinstance.h"
#include "tests/support/Scratchdir.h"

#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace {

QString Folder(const TScratchDir& dir) { return QFile::decodeName(dir.Path().c_str()); }

// What a crashed instance leaves: the socket's file, with nobody listening.
bool LeaveDeadSocket(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= static_cast<int>(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound && QFile::exists(path);
}

}  // namespace

class TestSingleinstance : public QObject {
    Q_OBJECT
private slots:
    void aLaterStartForTheSameFolderAsksTheRunningOneAndEnds()
    {
        TScratchDir dir;
        std::filesystem::create_directory_symlink(dir.Path(), dir.Path().string() + "-link");
        TSingleInstance first(Folder(dir));
        QVERIFY(first.Claim());
        QSignalSpy activated(&first, &TSingleInstance::Activated);

        TSingleInstance second(Folder(dir));
        QVERIFY(!second.Claim());
        QVERIFY(activated.wait(5000));
        // The same folder spelt another way, or through a link, is the same store.
        TSingleInstance dotted(Folder(dir) + QStringLiteral("/./"));
        QVERIFY(!dotted.Claim());
        TSingleInstance linked(Folder(dir) + QStringLiteral("-link"));
        QVERIFY(!linked.Claim());
        QTRY_COMPARE(activated.size(), 3);
        std::filesystem::remove(dir.Path().string() + "-link");
    }

    void otherFoldersAreApartAndTheNameIsTheUsers()
    {
        TScratchDir one;
        TScratchDir other;
        TSingleInstance first(Folder(one));
        TSingleInstance second(Folder(other));
        QVERIFY(first.Claim());
        QVERIFY(second.Claim());
        QVERIFY(TSingleInstance::ServerName(Folder(one)) != TSingleInstance::ServerName(Folder(other)));
        QVERIFY(TSingleInstance::ServerName(Folder(one)).contains(QStringLiteral("-%1-").arg(getuid())));
    }

    void theFolderIsFreeOnceTheRunningOneEnds()
    {
        TScratchDir dir;
        {
            TSingleInstance first(Folder(dir));
            QVERIFY(first.Claim());
        }
        TSingleInstance next(Folder(dir));
        QVERIFY(next.Claim());
    }

    void aSocketLeftByACrashedInstanceDoesNotBlockAStart()
    {
        TScratchDir dir;
        const QString name = TSingleInstance::ServerName(Folder(dir));
        QVERIFY(LeaveDeadSocket(name));
        TSingleInstance started(Folder(dir));
        QVERIFY(started.Claim());
        // and it listens in its place
        TSingleInstance later(Folder(dir));
        QVERIFY(!later.Claim());
    }

    void bringingToFrontShowsAMinimisedWindowAgain()
    {
        QMainWindow window;
        window.showMinimized();
        QVERIFY(window.isMinimized());
        BringToFront(window);
        QVERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());
        window.hide();
        BringToFront(window);
        QVERIFY(window.isVisible());
    }
};

QTEST_MAIN(TestSingleinstance)
#include "test_Singleinstance.moc"
