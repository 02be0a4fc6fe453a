// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>
#include <QLockFile>

#include <memory>

class QLocalServer;

// One running copy per user: the first start holds a lock and listens on a
// local socket; a later start finds the lock taken and only sends a message.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    // Messages longer than this are refused; the program's own is a few bytes.
    static constexpr int kMaxMessageBytes = 4096;

    SingleApplication(const QString &id, int &argc, char **argv);
    ~SingleApplication() override;

    // Another copy of this user's holds the id.
    bool isRunning() const;
    // Delivers `message` to the running copy; false when that fails within the time-out.
    bool sendMessage(const QString &message, int timeoutMs);

    // For a start that opens no window of its own: delivers `message` to the
    // copy that holds `id`, if one runs. Needs only a QCoreApplication.
    enum class HandOver { Delivered, NoCopy, NoAnswer };
    static HandOver handOver(const QString &id, const QString &message, int timeoutMs);
    // After a failed sendMessage: when nothing listened on the holder's socket
    // the whole time, the holder is gone (killed, or its process id reused by
    // another program, which the lock's own check cannot tell), so its lock is
    // removed and taken and this copy becomes the running one. False when the
    // holder was there but did not take the message.
    bool takeOverFromGoneHolder();

    // Where the lock and the socket of `id` live for this user: the runtime
    // directory when it is private, else bondara/ in the user's cache, made
    // 0700; empty when neither can be had (the program then runs unguarded).
    static QString serverName(const QString &id);

signals:
    void messageReceived(QString message);

private:
    void acceptConnection();
    void listen();

    QString mServerName;
    std::unique_ptr<QLockFile> mLock;
    QLocalServer *mServer = nullptr;
    bool mRunning = false;
    bool mHolderGone = false;
};
