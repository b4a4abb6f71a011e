#include "app/Singleinstance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QWidget>

#include <unistd.h>

namespace {

constexpr int kConnectTimeoutMs = 1000;
constexpr int kLockTimeoutMs = 3000;

QString CanonicalFolder(const QString& storeDir)
{
    const QString canonical = QFileInfo(storeDir).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(storeDir).absoluteFilePath()) : canonical;
}

// The user's own runtime folder keeps other users from taking or removing the
// name; without one, the temporary folder with the user's id in the name.
QString SocketFolder()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& storeDir, QObject* parent)
    : QObject(parent), FName(ServerName(storeDir))
{
}

QString TSingleInstance::ServerName(const QString& storeDir)
{
    const QByteArray hash =
        QCryptographicHash::hash(CanonicalFolder(storeDir).toUtf8(), QCryptographicHash::Sha256).toHex().left(24);
    return SocketFolder() + QStringLiteral("/orvel-%1-%2").arg(QString::number(getuid()), QString::fromLatin1(hash));
}

bool TSingleInstance::Claim()
{
    // Two starts at the same moment must not both find no server and then
    // remove each other's socket.
    QLockFile lock(FName + QStringLiteral(".lock"));
    lock.tryLock(kLockTimeoutMs);
    if (AskRunningInstance())
        return false;
    // Nobody answered: a socket left there belongs to an instance that
    // crashed, and must not keep this one from starting.
    QLocalServer::removeServer(FName);
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    if (FServer.listen(FName))
        AcceptActivations();
    return true;
}

bool TSingleInstance::AskRunningInstance()
{
    QLocalSocket socket;
    socket.connectToServer(FName);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    socket.write("show\n");
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

void TSingleInstance::AcceptActivations()
{
    connect(&FServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = FServer.nextPendingConnection()) {
            // The connection is the request; nothing is read from it.
            socket->abort();
            socket->deleteLater();
            emit Activated();
        }
    });
}

void BringToFront(QWidget& window)
{
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != &window) {
        modal->raise();
        modal->activateWindow();
    }
}
