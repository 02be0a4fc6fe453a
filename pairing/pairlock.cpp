// SPDX-License-Identifier: MIT
#include "pairing/pairlock.h"

#include "base/privatedir.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QLockFile>

PairLock::PairLock(const QString &receiverPath, const QString &instance)
{
    const QString dir = privateDirectory();
    if (dir.isEmpty())
        return;
    const QByteArray key = QCryptographicHash::hash((receiverPath + QLatin1Char('\n') + instance).toUtf8(),
                                                   QCryptographicHash::Sha1).toHex().left(16);
    mPath = dir + QStringLiteral("/pairing-") + QString::fromLatin1(key) + QStringLiteral(".lock");
    mFile = std::make_unique<QLockFile>(mPath);
    // A run lasts about 30 s: only a holder that has gone makes the lock stale, never its age.
    mFile->setStaleLockTime(0);
}

PairLock::~PairLock() = default;

bool PairLock::tryLock()
{
    if (!mFile) {
        qDebug() << "pairing without a lock: no private directory";
        return true;
    }
    if (mFile->tryLock(0))
        return true;
    if (mFile->error() != QLockFile::LockFailedError) {
        qDebug() << "pairing without a lock: it cannot be made in" << mPath;
        return true;
    }
    return false;
}
