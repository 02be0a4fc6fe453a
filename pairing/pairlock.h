// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <memory>

class QLockFile;

// One pairing per receiver at a time, across this user's programs: a lock
// file per receiver, given up when its holder ends, however it ends.
class PairLock
{
public:
    // The receiver's path and the device behind it, as a scan found them.
    PairLock(const QString &receiverPath, const QString &instance);
    ~PairLock();
    PairLock(const PairLock &) = delete;
    PairLock &operator=(const PairLock &) = delete;

    // False while another program holds the receiver's lock. Where no lock can
    // be made (no private directory), pairing goes on unguarded.
    bool tryLock();

private:
    QString mPath;
    std::unique_ptr<QLockFile> mFile;
};
