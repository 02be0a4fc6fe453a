// SPDX-License-Identifier: MIT
#include "app/singleapplication.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDebug>
#include <QDeadlineTimer>
#include <QThread>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include "base/privatedir.h"

namespace {

// A client that never finishes its message is dropped after this.
constexpr int kReadTimeoutMs = 5000;

// Short, so that the socket's path stays within what the system allows.
QString userTag()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
    return QString::fromLatin1(
        QCryptographicHash::hash(user.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
}

// Sends one framed message to the holder listening on `serverName`. On
// failure, *holderGone tells whether nothing listened the whole time.
bool deliver(const QString &serverName, const QString &message, int timeoutMs, bool *holderGone)
{
    *holderGone = false;
    const QByteArray payload = message.toUtf8();
    if (payload.size() > SingleApplication::kMaxMessageBytes)
        return false;
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The first copy may still be starting: retry until the time-out.
    bool holderSeen = false;
    while (true) {
        socket.connectToServer(serverName);
        if (socket.waitForConnected(int(qMax<qint64>(0, deadline.remainingTime()))))
            break;
        // A socket that exists but is busy is a holder that is alive.
        if (socket.error() != QLocalSocket::ServerNotFoundError
            && socket.error() != QLocalSocket::ConnectionRefusedError)
            holderSeen = true;
        if (deadline.hasExpired()) {
            *holderGone = !holderSeen;
            return false;
        }
        QThread::msleep(50);
    }
    QByteArray frame;
    QDataStream(&frame, QIODevice::WriteOnly) << quint32(payload.size());
    frame += payload;
    socket.write(frame);
    while (socket.bytesToWrite() > 0) {
        if (deadline.hasExpired() || !socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
            return false;
    }
    socket.disconnectFromServer();
    return true;
}

} // namespace

QString SingleApplication::serverName(const QString &id)
{
    // The name carries the user too, for systems where the directory is shared after all.
    const QString dir = privateDirectory();
    if (dir.isEmpty())
        return QString();
    return QDir(dir).filePath(id + QLatin1Char('-') + userTag());
}

SingleApplication::SingleApplication(const QString &id, int &argc, char **argv)
    : QApplication(argc, argv)
    , mServerName(serverName(id))
{
    if (mServerName.isEmpty()) {
        // Better two copies than none: the program still works, only unguarded.
        qWarning() << "single instance: no private directory for the lock (runtime, cache or home); not guarded";
        return;
    }
    mLock = std::make_unique<QLockFile>(mServerName + QStringLiteral(".lock"));
    // A lock left by a copy that crashed names a dead process and is taken over.
    mLock->setStaleLockTime(0);
    if (!mLock->tryLock(0)) {
        mRunning = mLock->error() == QLockFile::LockFailedError;
        return;
    }

    listen();
}

void SingleApplication::listen()
{
    mServer = new QLocalServer(this);
    mServer->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(mServerName); // a socket file left behind by a crash
    if (mServer->listen(mServerName))
        connect(mServer, &QLocalServer::newConnection, this, &SingleApplication::acceptConnection);
    else
        qWarning() << "single instance: cannot listen on" << mServerName << mServer->errorString();
}

bool SingleApplication::takeOverFromGoneHolder()
{
    if (!mRunning || !mHolderGone || !mLock)
        return false;
    // Where the holder still has the file open (Windows), removing it fails.
    if (!mLock->removeStaleLockFile() || !mLock->tryLock(0))
        return false;
    qWarning() << "single instance: the copy holding the lock is gone; this one takes over";
    mRunning = false;
    listen();
    return true;
}

SingleApplication::~SingleApplication()
{
    if (mServer)
        mServer->close();
}

bool SingleApplication::isRunning() const
{
    return mRunning;
}

bool SingleApplication::sendMessage(const QString &message, int timeoutMs)
{
    return deliver(mServerName, message, timeoutMs, &mHolderGone);
}

SingleApplication::HandOver SingleApplication::handOver(const QString &id, const QString &message, int timeoutMs)
{
    const QString name = serverName(id);
    if (name.isEmpty())
        return HandOver::NoCopy;
    QLockFile lock(name + QStringLiteral(".lock"));
    lock.setStaleLockTime(0);
    // Free, or left by a copy that is gone: nobody to hand over to, and not kept.
    if (lock.tryLock(0)) {
        lock.unlock();
        return HandOver::NoCopy;
    }
    if (lock.error() != QLockFile::LockFailedError)
        return HandOver::NoCopy;
    bool holderGone = false;
    if (deliver(name, message, timeoutMs, &holderGone))
        return HandOver::Delivered;
    return holderGone ? HandOver::NoCopy : HandOver::NoAnswer;
}

void SingleApplication::acceptConnection()
{
    while (QLocalSocket *socket = mServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kReadTimeoutMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const QByteArray head = socket->peek(4);
            if (head.size() < 4)
                return;
            quint32 length = 0;
            QDataStream(head) >> length;
            if (length > quint32(kMaxMessageBytes)) {
                socket->abort();
                return;
            }
            if (socket->bytesAvailable() < qint64(4 + length))
                return;
            socket->read(4);
            const QString message = QString::fromUtf8(socket->read(length));
            socket->disconnectFromServer();
            emit messageReceived(message);
        });
    }
}
